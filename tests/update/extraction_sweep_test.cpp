// Every file-system call that an extraction job and the update's unpack and
// publish make on a name in their destination, raced one at a time: at that
// name another process puts a link to an outside file or folder, a FIFO, a
// device, a hard link to an outside file or a folder, or it replaces the
// folder the call works in by a link, just before the call or just after it.
// Whatever the job then does, nothing outside the destination is created,
// changed or removed, no FIFO or device is opened, and the run ends.
//
// A traced run first counts the calls; then each call and change gets a run
// of its own, in a child process (the job needs an event loop of its own, and
// a run that does not end is killed). Each planned change must be made, at
// the call it was planned for: the run's calls up to that one come as traced.
// Only a change this process has no right to make (a device, unless it is
// root) may be skipped, and is counted apart. The figures are printed per
// scenario.
//
// The runs can be shared out among processes (VANTORA_TEST_SHARD=k/n, which
// CTest sets for each of its entries): each then traces every scenario and
// makes the runs whose place in that scenario's plan is k-1 modulo n.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fixtures/zip_builder.h"
#include "fs_call_sweep.h"
#include "update/installation.h"
#include "update/program_place.h"
#include "update/zip_thread.h"
#include "zip/zip_records.h"
#include "zip/zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using fixtures::Dated;
using fixtures::Member;
using fixtures::RawMember;
using sweep::Change;
using sweep::When;

constexpr char kArchive[] = "VAII021514.zip";
// A run that has not ended by then never will.
constexpr auto kRunDeadline = std::chrono::seconds(120);

// Under the address sanitizer a run costs three times as much: there each
// call is raced with every change at one time only, before the odd calls
// and after the even ones.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kThinned = true;
#else
constexpr bool kThinned = false;
#endif

// The share of each scenario's runs this process makes: those whose place
// in the scenario's plan (from 0) is `index` modulo `count`. Shared out so,
// every share holds about the same part of every scenario, however many
// calls each one comes to make.
struct Shard {
  std::size_t index = 0;
  std::size_t count = 1;
  bool Takes(std::size_t place) const { return place % count == index; }
  std::string Name() const {
    return count == 1
               ? ""
               : " (share " + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
  }
};

// The share VANTORA_TEST_SHARD names as "k/n", k from 1 to n; all the runs
// when it is not set, nothing when it is not such a pair.
std::optional<Shard> ShardToMake() {
  const char* value = std::getenv("VANTORA_TEST_SHARD");
  if (value == nullptr) return Shard{};
  long k = 0, n = 0;
  char rest = 0;
  if (std::sscanf(value, "%ld/%ld%c", &k, &n, &rest) != 2 || n < 1 || k < 1 || k > n)
    return std::nullopt;
  return Shard{static_cast<std::size_t>(k - 1), static_cast<std::size_t>(n)};
}

// The runs of a sweep over `calls` traced calls, in order: each call with
// each change, before it and after it.
std::vector<sweep::Plan> Plans(long calls) {
  std::vector<sweep::Plan> plans;
  for (long at = 1; at <= calls; ++at) {
    for (const Change change : sweep::kChanges) {
      for (const When when : {When::Before, When::After}) {
        if (kThinned && (when == When::Before) != (at % 2 == 1)) continue;
        sweep::Plan plan;
        plan.at = at;
        plan.change = change;
        plan.when = when;
        plans.push_back(plan);
      }
    }
  }
  return plans;
}

RawMember UnixMode(RawMember m, std::uint32_t mode) {
  m.hostSystem = 3;
  m.externalAttributes = mode << 16;
  return m;
}

// A Mac record of type and creator, with the Mac name `name` when given.
std::string MacRecord(const std::optional<std::string>& name) {
  std::string r(name ? "\x05\x26" : "\x05\x27", 2);
  fixtures::PutLE(r, 12 + (name ? 1 + name->size() : 0), 2);
  r += "ZPIT";
  if (name) r += static_cast<char>(name->size()) + *name;
  return r + "TEXTttxt";
}

std::string LockedMacBinary() {
  namespace mb = zip::records::macbinary;
  std::string bytes = ziptest::MacBinaryFile("data fork", "resource fork");
  bytes[mb::kProtected] = 1;
  platform::MemoryBlock header(mb::kSize);
  header.SetStringValue(0, bytes.substr(0, mb::kSize));
  const auto crc = static_cast<std::uint16_t>(zip::ZipEntry::z_CRC(header, mb::kCrc));
  bytes[mb::kCrc] = static_cast<char>(crc >> 8);
  bytes[mb::kCrc + 1] = static_cast<char>(crc & 0xFF);
  return bytes;
}

std::string Deep(int depth, const std::string& leaf) {
  std::string path;
  for (int i = 0; i < depth; ++i) path += "t/";
  return path + leaf;
}

struct Scenario {
  const char* name;
  std::vector<RawMember> members;
  // The update's unpack and publish into a program folder, rather than an
  // extraction job into a folder of its own.
  bool update = false;
  // The program's folder holds a file where the archive has the folder
  // docs/: the publish fails half-way and takes back what it moved.
  bool restores = false;
  // An interrupted update left its staging folder, holding files, folders
  // and links to outside, for this one to remove first.
  bool leftover = false;
};

std::vector<Scenario> Scenarios() {
  const std::string ux = fixtures::UnixType1Block(1600000000, 1600000100);
  const std::string info = "TYPECRTR" + std::string(24, '\0');
  const std::string bundle = std::string(update::kBundleName) + "/";
  return {
      {"ZPIT members with and without a Mac name",
       {Member("A-C", "named", MacRecord("A\\C")),
        Dated(Member("d/typed", "typed", MacRecord(std::nullopt)))}},
      {"a MacBinary member with a fork and the locked flag", {Member("locked", LockedMacBinary())}},
      {"a ditto pair",
       {Member("notes", "data fork"), Member("__MACOSX/", "", ux),
        Member("__MACOSX/._notes",
               fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, 4}}) + info + "RSRC", ux)}},
      {"folder members with dates and modes",
       {Dated(UnixMode(Member("dated/"), 040750)), Dated(UnixMode(Member("dated/inner/"), 040700)),
        Dated(UnixMode(Member("filemode/"), 0100777))}},
      {"a tree deeper than the folders held open",
       {Member(Deep(34, "x"), "x"), Member(Deep(33, "y"), "y")}},
      {"a small update",
       {Member(bundle), UnixMode(Member(bundle + "vantora2", "#!/bin/sh\necho new\n"), 0100755),
        Member(bundle + "lib/"), Member("data/"), Member("data/notes.txt", "notes")},
       true},
      {"an update that fails half-way and is taken back",
       {Member(bundle), UnixMode(Member(bundle + "vantora2", "new"), 0100755),
        Member("data/notes.txt", "notes"), Member("docs/a.txt", "a")},
       true,
       true},
      {"an update that first removes an earlier one's leftovers",
       {UnixMode(Member(bundle + "vantora2", "new"), 0100755)},
       true,
       false,
       true},
  };
}

// The test's folder for one run: the destination (the program's folder, for
// the update), and beside it the outside that the changes lead to, the
// archive of an extraction and the Trash of an update.
struct Layout {
  fs::path base;
  fs::path dest() const { return base / "dest"; }
  fs::path outside() const { return base / "outside"; }
  fs::path trash() const { return base / "Trash"; }
};

void SetMtime(const fs::path& p, std::int64_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void Lay(const Scenario& s, const Layout& l, const std::string& archiveBytes) {
  fs::create_directories(l.outside() / "folder");
  fixtures::WriteFile(l.outside() / "victim", "outside file");
  fixtures::WriteFile(l.outside() / "folder" / "inner", "outside folder's file");
  ::chmod((l.outside() / "victim").c_str(), 0640);
  ::chmod((l.outside() / "folder").c_str(), 0750);
  SetMtime(l.outside() / "victim", 1000000000);
  SetMtime(l.outside() / "folder" / "inner", 1000000000);
  SetMtime(l.outside() / "folder", 1000000000);
  if (!s.update) {
    fs::create_directory(l.dest());
    fixtures::WriteFile(l.base / kArchive, archiveBytes);
    return;
  }
  const fs::path old = l.dest() / update::kBundleName;
  fs::create_directories(old);
  fixtures::WriteFile(old / update::kBundleExecutable, "old");
  ::chmod((old / update::kBundleExecutable).c_str(), 0755);
  fs::create_directory(l.dest() / "data");
  fixtures::WriteFile(l.dest() / "data" / "old.txt", "old data");
  fixtures::WriteFile(l.dest() / kArchive, archiveBytes);
  if (s.restores) fixtures::WriteFile(l.dest() / "docs", "a file where the release has a folder");
}

// What an interrupted update leaves in the program's folder.
void LayLeftover(const Layout& l) {
  const fs::path left = l.dest() / ("." + fs::path(kArchive).stem().string() + ".unpacking");
  fs::create_directories(left / "sub" / "deeper");
  fixtures::WriteFile(left / "a", "left");
  fixtures::WriteFile(left / "sub" / "deeper" / "b", "left");
  fs::create_directory_symlink(l.outside() / "folder", left / "sub" / "link");
}

// Every item beside the destination and below, but the destination itself
// and the names in `skip`: its type, mode, size, date and bytes or target.
std::map<std::string, std::string> Outside(const Layout& l, const std::set<std::string>& skip) {
  std::map<std::string, std::string> items;
  std::vector<fs::path> folders{l.base};
  while (!folders.empty()) {
    const fs::path folder = folders.back();
    folders.pop_back();
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
      const std::string rel = e.path().lexically_relative(l.base).string();
      if (folder == l.base && skip.count(rel) != 0) continue;
      struct stat st {};
      if (::lstat(e.path().c_str(), &st) != 0) continue;
      std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) +
                         "." + std::to_string(st.st_mtim.tv_nsec);
      if (S_ISDIR(st.st_mode)) {
        folders.push_back(e.path());
      } else if (S_ISLNK(st.st_mode)) {
        what += " -> " + fs::read_symlink(e.path()).string();
      } else if (S_ISREG(st.st_mode)) {
        what += " " + std::to_string(st.st_size) + " " + fixtures::ReadFile(e.path());
      }
      items[rel] = what;
    }
  }
  return items;
}

// What one run saw, as the child reports it.
struct Report {
  bool ended = false;     // the child ended before the deadline
  int status = 0;         // as waitpid gave it
  bool complete = false;  // it said all it had to say
  sweep::Seen seen;
  bool succeeded = false;
  std::string result;
};

// Extracts `zar` into `dest` with the job, as the update does; its failure
// message, "" for success. What it made goes to `made` when given.
std::optional<std::string> RunJob(std::shared_ptr<zip::ZipArchive> zar,
                                  const platform::FolderItem& dest,
                                  platform::MadeItems* made = nullptr) {
  ZipThread job;
  job.KeepMessages(true);
  bool ended = false;
  job.Ended.Bind([&] { ended = true; });
  job.Decompress(std::move(zar), dest, true);
  while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (made != nullptr) *made = job.Made();
  if (job.Succeeded()) return std::nullopt;
  return job.Message().empty() ? std::string("job failed silently") : job.Message();
}

// The scenario's work, armed with `plan` when one is given. Its outcome.
std::pair<bool, std::string> Perform(const Scenario& s, const Layout& l, const sweep::Plan* plan) {
  auto zar = std::make_shared<zip::ZipArchive>();
  const fs::path archive = (s.update ? l.dest() : l.base) / kArchive;
  if (!zar->Open(archive, false)) return {false, "archive not opened: " + zar->ErrorMessage()};
  if (!s.update) {
    if (plan) sweep::Arm(*plan);
    const std::optional<std::string> failed = RunJob(zar, platform::FolderItem(l.dest()));
    return {!failed, failed.value_or("extracted")};
  }
  const update::ProgramPlace place{l.dest(), l.dest() / update::kBundleName};
  update::Installation install(place, l.trash(), archive);
  if (s.leftover) LayLeftover(l);
  if (plan) sweep::Arm(*plan);
  if (!install.Prepare()) return {false, "staging folder not made"};
  // As the window does: the staging folder as the installation holds it.
  platform::MadeItems made;
  if (const std::optional<std::string> failed = RunJob(zar, install.StagingItem(), &made)) {
    install.Discard();
    return {false, *failed};
  }
  switch (install.Publish(made)) {
    case update::Installation::Outcome::NewBundle:
      return {true, "new bundle"};
    case update::Installation::Outcome::Placed:
      return {true, "placed"};
    case update::Installation::Outcome::Failed:
      break;
  }
  // Failing is what this one should do; that it puts everything back is
  // checked where nothing is raced (update_road_test).
  return {s.restores, "not published"};
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

// In the child: the run, reported on `out` line by line.
[[noreturn]] void Child(const Scenario& s, const Layout& l, bool existing, const sweep::Plan& plan,
                        int out) {
  int argc = 1;
  char name[] = "extraction_sweep";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  // The destination holds the members and their sidecars: extracted once
  // before the shim is armed.
  const auto [held, why] = existing ? Perform(s, l, nullptr) : std::pair(true, std::string());
  const auto [succeeded, result] =
      held ? Perform(s, l, &plan) : std::pair(false, "the first extraction failed: " + why);
  const sweep::Seen seen = sweep::Disarm();
  std::string text;
  for (const std::string& call : seen.calls) text += "call " + OneLine(call) + "\n";
  if (!seen.made.empty()) text += "made " + OneLine(seen.made) + "\n";
  if (!seen.skipped.empty()) text += "skipped " + OneLine(seen.skipped) + "\n";
  if (seen.asideBesideWatched) text += "aside\n";
  for (const std::string& v : seen.violations) text += "violation " + OneLine(v) + "\n";
  text += std::string("result ") + (succeeded ? "1 " : "0 ") + OneLine(result) + "\nend\n";
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(out, text.data() + at, text.size() - at);
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

Report Parse(const std::string& text) {
  Report r;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "call") {
      r.seen.calls.push_back(rest);
    } else if (word == "made") {
      r.seen.made = rest;
    } else if (word == "skipped") {
      r.seen.skipped = rest;
    } else if (word == "aside") {
      r.seen.asideBesideWatched = true;
    } else if (word == "violation") {
      r.seen.violations.push_back(rest);
    } else if (word == "result" && rest.size() >= 2) {
      r.succeeded = rest[0] == '1';
      r.result = rest.substr(2);
    } else if (word == "end") {
      r.complete = true;
    }
  }
  return r;
}

// One run in a child process, waited for until the deadline.
Report RunInChild(const Scenario& s, const Layout& l, bool existing, const sweep::Plan& plan) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe[0]);
    Child(s, l, existing, plan, pipe[1]);
  }
  ::close(pipe[1]);
  // The report ends when the child does: its end of the pipe closes then.
  std::string text;
  bool ended = pid > 0;
  const auto deadline = std::chrono::steady_clock::now() + kRunDeadline;
  while (ended) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{pipe[0], POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      ended = false;
      break;
    }
    char buffer[65536];
    const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  if (pid > 0 && !ended) ::kill(pid, SIGKILL);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  Report r = Parse(text);
  r.ended = ended;
  r.status = status;
  return r;
}

// The figures of one change over all calls.
struct Tally {
  int runs = 0, succeeded = 0, failed = 0, skipped = 0, notMade = 0, bad = 0;
  std::map<std::string, int> messages;
  std::string skipReason;
};

// A run that broke the rule, grouped with those like it.
struct Problem {
  std::string what;
  std::vector<long> calls;
};

std::string Ranges(const std::vector<long>& calls) {
  std::string out;
  for (std::size_t i = 0; i < calls.size();) {
    std::size_t j = i;
    while (j + 1 < calls.size() && calls[j + 1] == calls[j] + 1) ++j;
    out += (out.empty() ? "" : ",") + std::to_string(calls[i]) +
           (j > i ? "-" + std::to_string(calls[j]) : "");
    i = j + 1;
  }
  return out;
}

// What differs between two snapshots, briefly.
std::string Differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string out;
  for (const auto& [name, what] : before) {
    const auto it = after.find(name);
    if (it == after.end()) {
      out += " gone:" + name;
    } else if (it->second != what) {
      out += " changed:" + name;
    }
  }
  for (const auto& [name, what] : after) {
    if (before.count(name) == 0) out += " new:" + name;
  }
  return out;
}

// The function of a traced call ("renameat dest/x" gives "renameat").
std::string FunctionOf(const std::string& call) {
  return call.substr(0, call.find(' '));
}

// The calls with each scratch file's random name (".vantora-" and 16 hex
// digits) numbered in the order the names first come, so that two runs
// compare alike when they make the same calls on the same scratch files.
std::vector<std::string> Numbered(std::vector<std::string> calls) {
  constexpr std::string_view kPrefix = ".vantora-";
  constexpr std::size_t kDigits = 16;
  std::map<std::string, std::string> numbers;
  for (std::string& call : calls) {
    for (std::size_t at = call.find(kPrefix); at != std::string::npos;
         at = call.find(kPrefix, at + 1)) {
      const std::size_t from = at + kPrefix.size();
      if (call.size() < from + kDigits ||
          call.find_first_not_of("0123456789abcdef", from) < from + kDigits)
        continue;
      const std::string random = call.substr(from, kDigits);
      const auto [it, added] = numbers.emplace(random, "#" + std::to_string(numbers.size() + 1));
      call.replace(from, kDigits, it->second);
    }
  }
  return calls;
}

// Where a run's calls (numbered) first differ from the traced ones, up to
// and with the `at`th; "" when they came as traced.
std::string OrderDifference(const std::vector<std::string>& traced,
                            const std::vector<std::string>& seen, long at) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(at); ++i) {
    if (i >= seen.size()) return "the run made only " + std::to_string(seen.size()) + " calls";
    if (seen[i] != traced[i]) return "call " + std::to_string(i + 1) + " was " + seen[i];
  }
  return "";
}

// A run checked: what it saw, and how it broke the rule ("" for not at all).
struct Checked {
  Report report;
  std::string problem;
};

// One run in a layout of its own.
Checked RunChecked(const Scenario& s, const std::string& archiveBytes, bool existing,
                   sweep::Plan plan) {
  fixtures::TempDir dir;
  const Layout l{fs::canonical(dir.path())};
  Lay(s, l, archiveBytes);
  plan.watched = l.dest().string();
  plan.outsideFile = (l.outside() / "victim").string();
  plan.outsideFolder = (l.outside() / "folder").string();
  std::set<std::string> skip{"dest", "Trash"};
  const auto before = Outside(l, skip);
  Checked c{RunInChild(s, l, existing, plan), {}};
  if (c.report.seen.asideBesideWatched) skip.insert(sweep::kAsideName);
  const std::string diff = Differences(before, Outside(l, skip));
  if (!c.report.ended) {
    c.problem += " did not end;";
  } else if (!WIFEXITED(c.report.status) || WEXITSTATUS(c.report.status) != 0) {
    c.problem += " died (status " + std::to_string(c.report.status) + ");";
  } else if (!c.report.complete) {
    c.problem += " ended without its report;";
  }
  if (!diff.empty()) c.problem += " outside changed:" + diff + ";";
  if (!c.report.seen.violations.empty())
    c.problem += " opened a FIFO, a device or an item outside;";
  return c;
}

// The sweep of one scenario in one destination.
struct Sweep {
  std::vector<std::string> calls;  // as traced
  std::map<Change, Tally> tallies;
  std::map<std::string, Problem> problems;
  int runs = 0;
  std::size_t planned = 0;  // the runs of the whole plan, in every share
  // Runs whose calls came in another order than the traced run's before the
  // planned one, so that the change was made at another call than planned.
  int moved = 0;

  void Add(const sweep::Plan& plan, const Checked& c) {
    const Report& r = c.report;
    const std::size_t index = static_cast<std::size_t>(plan.at - 1);
    ++runs;
    Tally& t = tallies[plan.change];
    ++t.runs;
    std::string problem = c.problem;
    std::string detail = r.seen.made;
    // Up to the planned call a run goes as the traced one did; after it, a
    // run that the change makes fail may end early or go another way.
    const std::string order = OrderDifference(Numbered(calls), Numbered(r.seen.calls), plan.at);
    if (!order.empty()) {
      ++moved;
      problem += " calls in another order before the planned one;";
      detail += "; " + order;
    }
    if (!r.seen.skipped.empty()) {
      ++t.skipped;
      t.skipReason = r.seen.skipped;
    } else if (r.seen.made.empty() || r.seen.made.starts_with("failed")) {
      ++t.notMade;
      problem += " the change was not made;";
    }
    ++(r.succeeded ? t.succeeded : t.failed);
    if (!r.succeeded) ++t.messages[r.result];
    if (problem.empty()) return;
    ++t.bad;
    const std::string key = std::string(sweep::ChangeName(plan.change)) +
                            (plan.when == When::Before ? ", before " : ", after ") +
                            FunctionOf(calls[index]) + ":" + problem;
    Problem& p = problems[key];
    if (p.what.empty()) {
      p.what = key + "\n    first at call " + std::to_string(plan.at) + ", " + calls[index] + ": " +
               detail;
      for (const std::string& v : r.seen.violations) p.what += "; " + v;
    }
    p.calls.push_back(plan.at);
  }

  void Print(const std::string& title, double seconds) const {
    std::printf(
        "\n== %s: %zu calls on names, %d of %zu runs%s (%d with calls in another order), %.1f s\n",
        title.c_str(), calls.size(), runs, planned, kThinned ? ", each call at one time" : "",
        moved, seconds);
    for (const Change change : sweep::kChanges) {
      const auto it = tallies.find(change);
      const Tally t = it == tallies.end() ? Tally{} : it->second;
      std::printf("  %-32s succeeded %4d, failed %4d, not made %4d, skipped %4d, rule broken %d\n",
                  sweep::ChangeName(change), t.succeeded, t.failed, t.notMade, t.skipped, t.bad);
      if (t.skipped != 0) std::printf("      skipped: %s\n", t.skipReason.c_str());
      for (const auto& [message, count] : t.messages) {
        std::printf("      %4d x %s\n", count, message.c_str());
      }
    }
    if (problems.empty()) return;
    std::printf("  the calls, as traced:\n");
    for (std::size_t i = 0; i < calls.size(); ++i)
      std::printf("  %4zu %s\n", i + 1, calls[i].c_str());
  }
};

// The sweep of one scenario in one destination: its traced run, then this
// share of its runs.
void SweepOne(const Scenario& s, const std::string& archiveBytes, bool existing, Shard shard) {
  const std::string title = std::string(s.name) +
                            (existing ? ", destination holding them" : ", empty destination") +
                            shard.Name();
  SCOPED_TRACE(title);
  const auto started = std::chrono::steady_clock::now();
  const Checked traced = RunChecked(s, archiveBytes, existing, sweep::Plan{});
  ASSERT_TRUE(traced.problem.empty()) << "the traced run:" << traced.problem;
  ASSERT_TRUE(traced.report.succeeded) << traced.report.result;
  Sweep sweep;
  sweep.calls = traced.report.seen.calls;
  ASSERT_FALSE(sweep.calls.empty()) << "no call on a name in the destination was seen";
  const std::vector<sweep::Plan> plans = Plans(static_cast<long>(sweep.calls.size()));
  // Whole before it is shared out: every call, the last too, with every
  // change, at both times (at one under the address sanitizer).
  ASSERT_EQ(plans.size(), sweep.calls.size() * std::size(sweep::kChanges) * (kThinned ? 1 : 2));
  ASSERT_EQ(plans.back().at, static_cast<long>(sweep.calls.size()));
  sweep.planned = plans.size();
  for (std::size_t place = 0; place < plans.size(); ++place) {
    if (shard.Takes(place))
      sweep.Add(plans[place], RunChecked(s, archiveBytes, existing, plans[place]));
  }
  // One place in every `count`, from its own: a share that took more or
  // fewer would leave runs to no share, or give them to two.
  EXPECT_EQ(static_cast<std::size_t>(sweep.runs),
            (plans.size() + shard.count - 1 - shard.index) / shard.count);
  sweep.Print(title,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  for (const auto& [key, p] : sweep.problems) {
    ADD_FAILURE() << p.what << "\n    at calls " << Ranges(p.calls);
  }
  std::fflush(stdout);
}

TEST(ExtractionSweep, NoRacedCallReachesOutsideTheDestination) {
  const std::optional<Shard> shard = ShardToMake();
  ASSERT_TRUE(shard) << "VANTORA_TEST_SHARD is \"" << std::getenv("VANTORA_TEST_SHARD")
                     << "\"; it names a share as k/n, with k from 1 to n";
  for (const Scenario& s : Scenarios()) {
    fixtures::RawArchive raw;
    raw.members = s.members;
    const std::string archiveBytes = raw.Build();
    for (const bool existing : {false, true}) {
      ASSERT_NO_FATAL_FAILURE(SweepOne(s, archiveBytes, existing, *shard));
    }
  }
}

}  // namespace
