#pragma once
// A request as the window hands it to the link: its packet type and its bytes.
// Pure builders return these so that what goes on the wire can be checked
// without a port, and the window queues them unchanged with AddPacket.
#include <string>

namespace unit {

struct QueuedRequest {
  int Type = 0;       // one of PacketTypeCode
  std::string Final;  // the request bytes, sent unchanged

  bool operator==(const QueuedRequest&) const = default;
};

}  // namespace unit
