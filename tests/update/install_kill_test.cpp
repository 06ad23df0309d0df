// An install ended at each of its file-system calls in turn, as a kill ends
// it, and then tried again whole: the next try ends as the first would have
// without the kill. A good release is in place, the copy that was running
// under its "OLD " name and the Trash holding just what was replaced; a
// refused one leaves the program's folder as it was. So too when the next
// try's own taking back is ended at each of its calls.
//
// The tests' stand-in for the C library (fs_call_sweep) counts the calls on
// names below the test's folder and ends the process at the chosen one,
// before it or just after it returns; each run is a child process of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "fixtures/zip_builder.h"
#include "fs_call_sweep.h"
#include "platform/apple_double.h"
#include "platform/folder_tree.h"
#include "platform/in_child.h"
#include "update/installation.h"
#include "update/new_release.h"
#include "zip/zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using Outcome = update::Installation::Outcome;
using Snap = std::map<std::string, std::string>;

using update_test::Put;

// The program's folder: the running copy and an old copy an earlier update
// left, each with a sidecar, a file the release replaces and one it keeps;
// for a refused release, also a file where the release has a folder.
struct Work {
  fixtures::TempDir dir;
  fs::path program = dir / "Programs";
  std::optional<platform::ItemId> running;

  explicit Work(bool refused) {
    Put(program / "Vantora II X.app" / "vantora2", "old");
    platform::WriteCreationDate(platform::ItemAt(program / "Vantora II X.app"), 2 * 86400, nullptr);
    Put(program / "OLD Vantora II X.app" / "vantora2", "older");
    platform::WriteCreationDate(platform::ItemAt(program / "OLD Vantora II X.app"), 86400, nullptr);
    Put(program / "data" / "old.txt", "old data");
    Put(program / "notes.txt", "old notes");
    if (refused) Put(program / "docs", "a file where the release has a folder");
    platform::Looked st{};
    platform::LookAt(AT_FDCWD, (program / "Vantora II X.app").c_str(), st, 0);
    running = platform::ItemId::Of(st);
  }

  update::Installation Install() const {
    return update::Installation({program, {}, running}, dir / "Trash", dir / "VAII021514.zip");
  }
};

// Prepares, lays out what the job would unpack, and publishes it; the stand-in
// is armed with `plan` from `armAt` on ("prepare" or "publish").
std::optional<Outcome> Try(const Work& w, const sweep::Plan* plan, const std::string& armAt) {
  update::Installation install = w.Install();
  if (plan && armAt == "prepare") sweep::Arm(*plan);
  if (!install.Prepare()) return std::nullopt;
  if (plan && armAt == "prepare") return Outcome::Placed;
  const fs::path staging = w.program / ".VAII021514.unpacking";
  update_test::LayNewRelease(staging);
  const platform::MadeItems made = update_test::AllMade(staging);
  if (plan && armAt == "publish") sweep::Arm(*plan);
  return install.Publish(made);
}

sweep::Plan PlanFor(const Work& w, long at, sweep::When when) {
  sweep::Plan plan;
  plan.watched = fs::canonical(w.dir.path()).string();
  plan.at = at;
  plan.change = sweep::Change::Exit;
  plan.when = when;
  return plan;
}

// How many calls a try makes from `armAt` on, in the state `w` is in now.
long Calls(const Work& w, const std::string& armAt) {
  const sweep::Plan count = PlanFor(w, 0, sweep::When::Before);
  Try(w, &count, armAt);
  return static_cast<long>(sweep::Disarm().calls.size());
}

// Ends a try in a child at call `at`; false when it was not ended there.
bool Killed(const Work& w, long at, sweep::When when, const std::string& armAt) {
  const sweep::Plan plan = PlanFor(w, at, when);
  return !test_support::InChildWithin(std::chrono::minutes(1), [&] {
            Try(w, &plan, armAt);
            return true;
          }).has_value();
}

// How the program's folder and the Trash stand once a good release is in.
Snap Installed(const Snap& before) {
  Snap after;
  for (const auto& [name, bytes] : before) {
    if (name.rfind("OLD Vantora II X.app", 0) == 0 || name == "._OLD Vantora II X.app" ||
        name == "notes.txt") {
      continue;
    }
    const bool running = name.rfind("Vantora II X.app", 0) == 0 || name == "._Vantora II X.app";
    const std::size_t at = name.find("Vantora II X.app");
    after[running ? name.substr(0, at) + "OLD " + name.substr(at) : name] = bytes;
  }
  for (const auto& [name, bytes] : Snap{{"Vantora II X.app", "/"},
                                        {"Vantora II X.app/vantora2", "new"},
                                        {"Vantora II X.app/lib", "/"},
                                        {"Vantora II X.app/lib/x", "x"},
                                        {"data/new.txt", "new data"},
                                        {"notes.txt", "new notes"},
                                        {"docs", "/"},
                                        {"docs/a.txt", "a"}}) {
    after[name] = bytes;
  }
  return after;
}

Snap Replaced(const Snap& before) {
  Snap trashed;
  for (const auto& [name, bytes] : before) {
    if (name.find("OLD Vantora II X.app") != std::string::npos || name == "notes.txt") {
      trashed[name] = bytes;
    }
  }
  return trashed;
}

// What the Trash holds, each item under the name it had: the Trash numbers
// a name that a record of an earlier move (one that was ended) still takes.
Snap TrashFiles(const Work& w) {
  const fs::path files = w.dir / "Trash" / "files";
  Snap named;
  for (const auto& [name, bytes] : fs::exists(files) ? ziptest::Snapshot(files) : Snap{}) {
    const std::size_t slash = name.find('/');
    std::string top = name.substr(0, slash);
    const std::size_t dot = top.find_last_of('.');
    if (dot != std::string::npos &&
        top.find_first_not_of("0123456789", dot + 1) == std::string::npos)
      top.resize(dot);
    named[top + (slash == std::string::npos ? "" : name.substr(slash))] = bytes;
  }
  return named;
}

// After whatever ended the tries before, a try that is not ended: what
// differs from how it should end, "" for nothing.
std::string Clean(const Work& w, bool refused, const Snap& before) {
  // A first try ended once its journal said all was in place has installed
  // the release: the copy that ran is no longer at its name, and is not
  // replaced again.
  const fs::path kept = w.program / ".VAII021514.replaced";
  int error = 0;
  const platform::OpenFolderRef held = platform::OpenFolder::Open(AT_FDCWD, kept.c_str(), 0, error);
  const std::optional<update::JournalContents> journal =
      held ? update::Journal::Read(held->fd(), kept.filename()) : std::nullopt;
  const bool installedBefore =
      fixtures::ReadFile(w.program / "Vantora II X.app" / "vantora2") == "new" &&
      (!journal || journal->done);
  const std::optional<Outcome> outcome = Try(w, nullptr, "");
  std::string wrong;
  if (!outcome) wrong += "not prepared; ";
  if (!installedBefore && outcome != (refused ? Outcome::Failed : Outcome::NewBundle))
    wrong += "not the outcome of a try with no kill; ";
  if (ziptest::Snapshot(w.program) != (refused ? before : Installed(before)))
    wrong += "the program's folder is not as it should be; ";
  if (TrashFiles(w) != (refused ? Snap{} : Replaced(before)))
    wrong += "the Trash holds more or less than what was replaced; ";
  return wrong;
}

class InstallKill : public ::testing::TestWithParam<bool> {};

TEST_P(InstallKill, TheNextTryEndsAsIfNoneWasKilled) {
  const bool refused = GetParam();
  long calls = 0;
  {
    const Work w(refused);
    calls = Calls(w, "publish");
  }
  ASSERT_GT(calls, 10);
  for (long at = 1; at <= calls; ++at) {
    for (const sweep::When when : {sweep::When::Before, sweep::When::After}) {
      const Work w(refused);
      const Snap before = ziptest::Snapshot(w.program);
      SCOPED_TRACE("ended " + std::string(when == sweep::When::Before ? "before" : "after") +
                   " call " + std::to_string(at) + " of " + std::to_string(calls));
      ASSERT_TRUE(Killed(w, at, when, "publish"));
      EXPECT_EQ(Clean(w, refused, before), "");
    }
  }
}

// The next try's taking back ended at each of its calls, after a first try
// ended half-way through its moves and one ended as it trashed what made way.
TEST_P(InstallKill, TheTakingBackEndedTooIsTakenUpAgain) {
  const bool refused = GetParam();
  long calls = 0;
  {
    const Work w(refused);
    calls = Calls(w, "publish");
  }
  for (const long first : {calls / 2, calls - 4}) {
    long recovery = 0;
    {
      const Work w(refused);
      ASSERT_TRUE(Killed(w, first, sweep::When::After, "publish"));
      recovery = Calls(w, "prepare");
    }
    for (long at = 1; at <= recovery; ++at) {
      const Work w(refused);
      const Snap before = ziptest::Snapshot(w.program);
      SCOPED_TRACE("first ended after call " + std::to_string(first) + ", the next before call " +
                   std::to_string(at) + " of " + std::to_string(recovery));
      ASSERT_TRUE(Killed(w, first, sweep::When::After, "publish"));
      ASSERT_TRUE(Killed(w, at, sweep::When::Before, "prepare"));
      EXPECT_EQ(Clean(w, refused, before), "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(GoodAndRefused, InstallKill, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Refused" : "Good"; });

}  // namespace
