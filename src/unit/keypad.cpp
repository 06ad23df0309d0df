#include "unit/keypad.h"

#include "link/packet.h"

namespace unit {

QueuedRequest KeypadRequest(KeypadKey key) {
  switch (key) {
    case KeypadKey::Left:
      return {PacketTypeOK, "<<"};
    case KeypadKey::Right:
      return {PacketTypeOK, ">>"};
    case KeypadKey::Up:
      return {PacketTypeOK, "++"};
    case KeypadKey::Down:
      return {PacketTypeOK, "--"};
    case KeypadKey::Enter:
      return {PacketTypeOK, "=="};
  }
  return {PacketTypeOK, "=="};
}

}  // namespace unit
