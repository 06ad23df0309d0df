#pragma once
// The unit's own keys, pressed from the computer: one request per press.
#include "unit/queued_request.h"

namespace unit {

enum class KeypadKey { Left, Right, Up, Down, Enter };

QueuedRequest KeypadRequest(KeypadKey key);

}  // namespace unit
