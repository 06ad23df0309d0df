#pragma once
// How a reply from the unit is recognised for each packet type: pure logic,
// kept apart from the port so it can be checked byte by byte.
#include <cstdint>
#include <string>
#include <string_view>

namespace wire {

// Time-outs in ticks, counted from the moment the request went out.
constexpr std::int64_t kCrTimeoutTicks = 20;
constexpr std::int64_t kEraseTimeoutTicks = 120;  // "e" erases the whole flash first
constexpr std::int64_t kReplyTimeoutTicks = 60;
// Once the letter of an "e" read has arrived, the rest of its 57 bytes may
// take this long, however late the letter itself came.
constexpr std::int64_t kPieceWaitTicks = 50;
// A request goes out at most this many times.
constexpr int kMaxTries = 6;

// Whole reply length of a read, its letter included; 0 for a letter the unit
// is never asked for.
int ReadReplyLength(char letter);

// Ticks after which the outstanding request counts as failed.
std::int64_t TimeoutTicks(int type, const std::string& request);

// True for the read of the item codes, whose long reply may arrive in pieces.
bool WaitsForPieces(int type, const std::string& request);

enum class ReplyState {
  Incomplete,  // what has arrived fits so far; wait for more
  Accepted,    // a whole reply is there
  Mismatch,    // what has arrived cannot be this request's reply
};

struct ReplyMatch {
  ReplyState State = ReplyState::Incomplete;
  std::string Header;       // read: the letter
  std::string Response;     // read: the bytes after the letter
  bool Bootloader = false;  // hello: "22"
  int Revision = 0;         // hello: the byte after "NM"
};

// Matches the bytes received since the request went out against the reply
// that its type expects. Bytes beyond a whole reply are not looked at.
ReplyMatch MatchReply(int type, const std::string& request, std::string_view input);

}  // namespace wire
