#include "unit/link_watch.h"

#include "link/packet.h"
#include "unit/command_set.h"

namespace unit {

bool FirmwareOwnsLink(bool upgrading, bool pMode) {
  return upgrading || pMode;
}

std::vector<QueuedRequest> LinkWatchRequests(const LinkWatchInputs& in) {
  std::vector<QueuedRequest> out;
  if (!in.isConnected || FirmwareOwnsLink(in.upgrading, in.pMode)) return out;
  // Only a port that went away counts: an adapter plugged in while connected
  // raises the count and must not set off probes.
  if (in.linkIdle && in.portCount && in.portCount() < in.curPorts) {
    out.push_back(WriteLogSpeed(in.dlSpeed));
  }
  if (in.previewChecked) out.push_back({PacketTypeOK, "00"});
  return out;
}

}  // namespace unit
