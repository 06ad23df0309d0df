#include "unit/link_watch.h"

#include <algorithm>
#include <string>

#include "link/packet.h"

namespace unit {

bool FirmwareOwnsLink(bool upgrading, bool pMode) {
  return upgrading || pMode;
}

std::vector<QueuedRequest> LinkWatchRequests(const LinkWatchInputs& in) {
  std::vector<QueuedRequest> out;
  if (!in.isConnected || FirmwareOwnsLink(in.upgrading, in.pMode)) return out;
  // Only a port that went away counts: an adapter plugged in while connected
  // raises the count and must not set off probes.
  if (in.portCount < in.curPorts && in.linkIdle) {
    const int speed = std::clamp(in.dlSpeed, 0, 255);
    out.push_back({PacketTypeOK, std::string("wd") + static_cast<char>(speed)});
  }
  if (in.previewChecked) out.push_back({PacketTypeOK, "00"});
  return out;
}

}  // namespace unit
