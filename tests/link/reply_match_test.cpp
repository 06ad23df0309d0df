// Recognising replies byte by byte, without a port.
#include "link/reply_match.h"

#include <gtest/gtest.h>

#include "link/packet.h"

using wire::MatchReply;
using wire::ReplyState;

TEST(ReplyMatch, CarriageReturnAndOkTakeOneByte) {
  EXPECT_EQ(MatchReply(PacketTypeCR, "A\x00\x80", "").State, ReplyState::Incomplete);
  EXPECT_EQ(MatchReply(PacketTypeCR, "e", "\r").State, ReplyState::Accepted);
  EXPECT_EQ(MatchReply(PacketTypeCR, "e", "O").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeOK, "wd\x05", "O").State, ReplyState::Accepted);
  EXPECT_EQ(MatchReply(PacketTypeOK, "wd\x05", "\r").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeOK, "wd\x05", "o").State, ReplyState::Mismatch);
}

TEST(ReplyMatch, HelloFromFirmwareOrBootloader) {
  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "N").State, ReplyState::Incomplete);
  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "NM").State, ReplyState::Incomplete);
  auto m = MatchReply(PacketTypeHello, "VV", std::string_view("NM\xC8", 3));
  EXPECT_EQ(m.State, ReplyState::Accepted);
  EXPECT_FALSE(m.Bootloader);
  EXPECT_EQ(m.Revision, 200);  // the revision byte is unsigned

  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "2").State, ReplyState::Incomplete);
  m = MatchReply(PacketTypeHello, "V", "22");
  EXPECT_EQ(m.State, ReplyState::Accepted);
  EXPECT_TRUE(m.Bootloader);

  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "NX").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "23").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeHello, "VV", "O").State, ReplyState::Mismatch);
}

TEST(ReplyMatch, ReadTakesExactlyItsLettersLength) {
  const std::string letters = "tdmpcwiheasuz";
  const int lengths[] = {4, 2, 2, 3, 3, 6, 3, 3, 57, 7, 107, 91, 246};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const char letter = letters[i];
    const int length = lengths[i];
    SCOPED_TRACE(std::string(1, letter));
    EXPECT_EQ(wire::ReadReplyLength(letter), length);
    const std::string request = std::string("r") + letter;
    std::string reply(1, letter);
    for (int b = 1; b < length; ++b) reply.push_back(static_cast<char>(b));
    EXPECT_EQ(MatchReply(PacketTypeRead, request, reply.substr(0, reply.size() - 1)).State,
              ReplyState::Incomplete);
    // More than a whole reply: exactly the reply's bytes are taken.
    auto m = MatchReply(PacketTypeRead, request, reply + "junk");
    ASSERT_EQ(m.State, ReplyState::Accepted);
    EXPECT_EQ(m.Header, std::string(1, letter));
    EXPECT_EQ(m.Response, reply.substr(1));
  }
}

TEST(ReplyMatch, ReadWithWrongOrUnknownLetterFails) {
  EXPECT_EQ(MatchReply(PacketTypeRead, "rd", "m\x05").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeRead, "rd", "O").State, ReplyState::Mismatch);
  // A letter the unit has no reply length for can never be taken.
  EXPECT_EQ(wire::ReadReplyLength('q'), 0);
  EXPECT_EQ(MatchReply(PacketTypeRead, "rq", "q\x01\x02").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(PacketTypeRead, "", "r").State, ReplyState::Mismatch);
  EXPECT_EQ(MatchReply(7, "x", "x").State, ReplyState::Mismatch);
}

TEST(ReplyMatch, TimeOutsPerType) {
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeCR, "A\x00\x00"), 20);
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeCR, "e"), 120);
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeCR, "E"), 20);
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeOK, "e"), 60);
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeHello, "VV"), 60);
  EXPECT_EQ(wire::TimeoutTicks(PacketTypeRead, "re"), 60);
  EXPECT_TRUE(wire::WaitsForPieces(PacketTypeRead, "re"));
  EXPECT_FALSE(wire::WaitsForPieces(PacketTypeRead, "rs"));
  EXPECT_FALSE(wire::WaitsForPieces(PacketTypeCR, "e"));
}
