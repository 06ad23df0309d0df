#include "update/install_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/checksums.h"

namespace update {

namespace {

constexpr char kFirstLine[] = "journal 1";
// A journal of more steps than any install makes is none of ours.
constexpr std::size_t kLongest = 64 * 1024 * 1024;

std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    if (c > ' ' && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

// A path that stays below its root: names of one component each, none of
// them "." or "..", and none empty (the Trash's alone may be empty: its
// item's name there is not known).
bool Below(const std::string& path, bool mayBeEmpty) {
  if (path.empty()) return mayBeEmpty;
  for (std::size_t at = 0;;) {
    const std::size_t slash = path.find('/', at);
    const std::string name = path.substr(at, slash == std::string::npos ? slash : slash - at);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
      return false;
    if (slash == std::string::npos) return true;
    at = slash + 1;
  }
}

std::string SpotText(const Spot& spot) {
  return static_cast<char>(spot.root) + Escaped(spot.path);
}

std::optional<Spot> SpotOf(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char root = text[0];
  if (root != 'P' && root != 'S' && root != 'K' && root != 'T') return std::nullopt;
  std::optional<std::string> path = Unescaped(text.substr(1));
  if (!path || !Below(*path, root == 'T')) return std::nullopt;
  return Spot{static_cast<Root>(root), std::move(*path)};
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at <= line.size();) {
    std::size_t blank = line.find(' ', at);
    if (blank == std::string_view::npos) blank = line.size();
    words.push_back(line.substr(at, blank - at));
    at = blank + 1;
  }
  return words;
}

template <typename Number>
bool NumberOf(std::string_view text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::optional<Step> StepOf(const std::vector<std::string_view>& w) {
  if (w.size() != 9 || w[1].size() != 1) return std::nullopt;
  const char role = w[1][0];
  if (role != 'R' && role != 'A' && role != 'N' && role != 'T') return std::nullopt;
  Step step;
  step.role = static_cast<Role>(role);
  std::optional<Spot> from = SpotOf(w[2]), to = SpotOf(w[3]);
  std::uint64_t dev = 0, ino = 0, type = 0;
  if (!from || !to || !NumberOf(w[4], dev) || !NumberOf(w[5], ino) || !NumberOf(w[6], type) ||
      !NumberOf(w[7], step.id.birthSeconds) || !NumberOf(w[8], step.id.birthNanoseconds)) {
    return std::nullopt;
  }
  step.from = std::move(*from);
  step.to = std::move(*to);
  step.id.dev = static_cast<dev_t>(dev);
  step.id.ino = static_cast<ino_t>(ino);
  step.id.type = static_cast<mode_t>(type);
  return step;
}

// The payload of a whole line that matches its CRC; none else.
std::optional<std::string_view> Checked(std::string_view line) {
  const std::size_t blank = line.rfind(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::uint32_t crc = 0;
  const std::string_view payload = line.substr(0, blank), sum = line.substr(blank + 1);
  const auto [end, ec] = std::from_chars(sum.data(), sum.data() + sum.size(), crc, 16);
  if (ec != std::errc() || end != sum.data() + sum.size() || sum.size() != 8 ||
      platform::Crc32(payload, 0) != crc) {
    return std::nullopt;
  }
  return payload;
}

// Adds the line `payload` to `c`; false when it is none of a journal's.
bool Take(std::string_view payload, JournalContents& c) {
  const std::vector<std::string_view> w = Words(payload);
  if (w[0] == "trash" && w.size() == 2) {
    std::optional<std::string> trash = Unescaped(w[1]);
    if (!trash) return false;
    c.trash = std::move(*trash);
    return true;
  }
  if (w[0] == "done" && w.size() == 1) {
    c.done = true;
    return true;
  }
  if (w[0] != "step") return false;
  std::optional<Step> step = StepOf(w);
  if (step) c.steps.push_back(std::move(*step));
  return step.has_value();
}

// The first line as it is written, its CRC and all.
std::string FirstLine() {
  char crc[16];
  std::snprintf(crc, sizeof crc, " %08x\n", platform::Crc32(kFirstLine, 0));
  return kFirstLine + std::string(crc);
}

// Flushes the folder of descriptor `folder` (a path descriptor will do), so
// that a name just made in it lasts.
bool FlushFolder(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return flushed;
}

}  // namespace

std::unique_ptr<Journal> Journal::Create(int kept, const std::string& name,
                                         const std::string& trash) {
  const int fd = ::openat(kept, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::unique_ptr<Journal> journal(new Journal(fd));
  journal->written_.trash = trash;
  if (!journal->Append(kFirstLine) || !journal->Append("trash " + Escaped(trash)) ||
      !FlushFolder(kept)) {
    return nullptr;
  }
  return journal;
}

std::optional<JournalContents> Journal::Read(int kept, const std::string& name) {
  platform::Looked st{};
  const int fd = platform::OpenRegularFile(kept, name.c_str(), st);
  if (fd < 0) {
    // Anything but a file of ours at its name is no journal.
    if (st.st_mode != 0) errno = EBADMSG;
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kLongest) {
      n = -1;
      errno = EFBIG;
      break;
    }
  }
  const int saved = errno;
  ::close(fd);
  if (n < 0) {
    errno = saved;
    return std::nullopt;
  }
  JournalContents c;
  bool first = true;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    // The last line, cut short, was never finished: its step never made.
    if (end == std::string::npos) break;
    const std::optional<std::string_view> payload =
        Checked(std::string_view(text).substr(at, end - at));
    at = end + 1;
    if (!payload) break;
    if (first ? *payload != kFirstLine : !Take(*payload, c)) {
      errno = EBADMSG;
      return std::nullopt;
    }
    first = false;
  }
  // Ended before its first line was whole, a journal records nothing; a
  // file that begins otherwise is none of ours.
  if (first && FirstLine().rfind(text, 0) != 0) {
    errno = EBADMSG;
    return std::nullopt;
  }
  return c;
}

Journal::~Journal() {
  ::close(fd_);
}

bool Journal::Append(const std::string& payload) {
  char crc[16];
  std::snprintf(crc, sizeof crc, " %08x\n", platform::Crc32(payload, 0));
  int err = 0;
  // Written whole in one call, so that a kill leaves a line whole or cut.
  if (!platform::WriteAll(fd_, payload + crc, &err)) {
    errno = err;
    return false;
  }
  return ::fsync(fd_) == 0;
}

bool Journal::Record(const Step& step) {
  const platform::ItemId& id = step.id;
  // Kept whatever the write gives: a step that might be on the disk is
  // taken back like any other.
  written_.steps.push_back(step);
  return Append("step " + std::string(1, static_cast<char>(step.role)) + " " + SpotText(step.from) +
                " " + SpotText(step.to) + " " + std::to_string(id.dev) + " " +
                std::to_string(id.ino) + " " + std::to_string(id.type) + " " +
                std::to_string(id.birthSeconds) + " " + std::to_string(id.birthNanoseconds));
}

bool Journal::Done() {
  written_.done = Append("done");
  return written_.done;
}

}  // namespace update
