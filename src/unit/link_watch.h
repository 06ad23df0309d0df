#pragma once
// What the window's half-second timer queues: the watchdog probe that gives
// the link a transfer on which to notice a vanished port, and the layout
// preview request.
#include <functional>
#include <vector>

#include "unit/queued_request.h"

namespace unit {

struct LinkWatchInputs {
  // The system's serial port count now. Asked only when every other
  // condition of the probe holds: counting the ports walks the system's
  // devices, and an idle or disconnected window should cost nothing.
  std::function<int()> portCount;
  int curPorts = 0;  // the count the port watch last took
  bool isConnected = false;
  bool pMode = false;      // the unit's bootloader is answering
  bool upgrading = false;  // a firmware update is queued or running
  bool linkIdle = false;   // nothing outstanding and an empty queue
  bool previewChecked = false;
  int dlSpeed = 1;  // the datalogging speed slider, 1 to 20
};

// True while the unit must receive nothing but the firmware update's own
// requests: anything queued behind the last block would keep the queue from
// draining, and the update would never leave the bootloader.
bool FirmwareOwnsLink(bool upgrading, bool pMode);

// In this order: "wd" + speed when a port has vanished and the connected
// normal-firmware link is idle; "00" while the preview box is checked on a
// connected link. Nothing at all while the firmware owns the link.
std::vector<QueuedRequest> LinkWatchRequests(const LinkWatchInputs& in);

}  // namespace unit
