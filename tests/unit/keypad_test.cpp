#include "unit/keypad.h"

#include <gtest/gtest.h>

#include "link/packet.h"

namespace unit {
namespace {

TEST(Keypad, EachKeyQueuesItsTwoBytes) {
  EXPECT_EQ(KeypadRequest(KeypadKey::Left), (QueuedRequest{PacketTypeOK, "<<"}));
  EXPECT_EQ(KeypadRequest(KeypadKey::Right), (QueuedRequest{PacketTypeOK, ">>"}));
  EXPECT_EQ(KeypadRequest(KeypadKey::Up), (QueuedRequest{PacketTypeOK, "++"}));
  EXPECT_EQ(KeypadRequest(KeypadKey::Down), (QueuedRequest{PacketTypeOK, "--"}));
  EXPECT_EQ(KeypadRequest(KeypadKey::Enter), (QueuedRequest{PacketTypeOK, "=="}));
}

}  // namespace
}  // namespace unit
