#include "link/reply_match.h"

#include "link/packet.h"

namespace wire {

int ReadReplyLength(char letter) {
  switch (letter) {
    case 't':
      return 4;
    case 'd':
      return 2;
    case 'm':
      return 2;
    case 'p':
      return 3;
    case 'c':
      return 3;
    case 'w':
      return 6;
    case 'i':
      return 3;
    case 'h':
      return 3;
    case 'e':
      return 57;
    case 'a':
      return 7;
    case 's':
      return 107;
    case 'u':
      return 91;
    case 'z':
      return 246;
    default:
      return 0;
  }
}

std::int64_t TimeoutTicks(int type, const std::string& request) {
  if (type == PacketTypeCR) return request == "e" ? kEraseTimeoutTicks : kCrTimeoutTicks;
  return kReplyTimeoutTicks;
}

bool WaitsForPieces(int type, const std::string& request) {
  return type == PacketTypeRead && !request.empty() && request.back() == 'e';
}

namespace {
ReplyMatch Single(std::string_view input, char expected) {
  ReplyMatch m;
  if (input.empty()) return m;
  m.State = input[0] == expected ? ReplyState::Accepted : ReplyState::Mismatch;
  return m;
}

ReplyMatch Hello(std::string_view input) {
  ReplyMatch m;
  if (input.empty()) return m;
  if (input[0] == '2') {
    if (input.size() < 2) return m;
    m.State = input[1] == '2' ? ReplyState::Accepted : ReplyState::Mismatch;
    m.Bootloader = true;
    return m;
  }
  if (input[0] != 'N') {
    m.State = ReplyState::Mismatch;
    return m;
  }
  if (input.size() >= 2 && input[1] != 'M') {
    m.State = ReplyState::Mismatch;
    return m;
  }
  if (input.size() < 3) return m;
  m.State = ReplyState::Accepted;
  m.Revision = static_cast<unsigned char>(input[2]);
  return m;
}

ReplyMatch Read(const std::string& request, std::string_view input) {
  ReplyMatch m;
  if (input.empty()) return m;
  const char letter = request.empty() ? '\0' : request.back();
  const int length = ReadReplyLength(letter);
  if (length == 0 || input[0] != letter) {
    m.State = ReplyState::Mismatch;
    return m;
  }
  if (input.size() < static_cast<std::size_t>(length)) return m;
  m.State = ReplyState::Accepted;
  m.Header = std::string(input.substr(0, 1));
  m.Response = std::string(input.substr(1, static_cast<std::size_t>(length) - 1));
  return m;
}
}  // namespace

ReplyMatch MatchReply(int type, const std::string& request, std::string_view input) {
  switch (type) {
    case PacketTypeCR:
      return Single(input, '\r');
    case PacketTypeOK:
      return Single(input, 'O');
    case PacketTypeHello:
      return Hello(input);
    case PacketTypeRead:
      return Read(request, input);
    default: {
      ReplyMatch m;
      if (!input.empty()) m.State = ReplyState::Mismatch;
      return m;
    }
  }
}

}  // namespace wire
