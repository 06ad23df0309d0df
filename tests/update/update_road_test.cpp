// The software update against a web server on 127.0.0.1: the version answer,
// the download and its window, the hand-over to the new copy, and the archive
// job on its own thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialog>
#include <QTest>
#include <QThread>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fixtures/folder_open_hook.h"
#include "fixtures/look_hook.h"
#include "fixtures/zip_builder.h"
#include "mainwindow/confirm_win.h"
#include "mainwindow/lcdprog.h"
#include "mainwindow/local_http_server.h"
#include "platform/apple_double.h"
#include "platform/folder_tree.h"
#include "platform/in_child.h"
#include "platform/qt/msgbox.h"
#include "platform/run_unprivileged.h"
#include "unitsim/hang_guard.h"
#include "update/dl_win.h"
#include "update/installation.h"
#include "update/new_release.h"
#include "update/program_place.h"
#include "update/update_messages.h"
#include "update/zip_thread.h"
#include "zip/zip_test_util.h"

namespace fs = std::filesystem;
using platform::HTTPSocket;

namespace {

using fixtures::beforeFolderOpen;

constexpr char kVersionPath[] = "/vantora2.ver";
constexpr char kDownloadPath[] = "/software/Vantora%20II/Mac%20OS/Vantora%20II%20X%20021514.zip";

bool Waited(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, unitsim::kHangGuardMs);
}

// Every name in `folder`, sorted.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct UpdateRoad : ::testing::Test {
  fixtures::TempDir dir;
  fs::path program = dir / "Programs";
  fs::path archive = program / "VAII021514.zip";
  LocalHttpServer server;
  std::unique_ptr<LCDProg> window;
  std::vector<std::string> messages;
  // What the program's folder held as each message was shown.
  std::vector<std::vector<std::string>> foldersAtMessages;
  std::vector<std::string> questions;
  bool answer = true;
  bool boxesOnMainThread = true;
  std::vector<fs::path> handedOver;
  platform::MsgBoxSink previousBox;
  ConfirmSink previousConfirm;
  HTTPSocket::NetworkCheck previousNetwork;

  void SetUp() override {
    fs::create_directories(program / "Vantora II X.app");
    fixtures::WriteFile(program / "Vantora II X.app" / "vantora2", "old");
    previousBox = platform::SetMsgBoxSink([this](const std::string& text) {
      boxesOnMainThread &= QThread::currentThread() == qApp->thread();
      messages.push_back(text);
      foldersAtMessages.push_back(Listing(program));
    });
    previousConfirm = SetConfirmSink([this](const std::string& text, int defaultButton) {
      questions.push_back(text + " / default " + std::to_string(defaultButton));
      return answer;
    });
    // Made while the network is down, so its own check asks nobody.
    window = std::make_unique<LCDProg>();
    window->UpdateServer = server.Base();
    window->ProgramFolder = program;
    window->Trash = dir / "Trash";
    window->HandOver = [this](const fs::path& newCopy) { handedOver.push_back(newCopy); };
    previousNetwork = HTTPSocket::SetNetworkCheck([] { return true; });
  }

  void TearDown() override {
    window.reset();
    CloseDLWin();
    HTTPSocket::SetNetworkCheck(previousNetwork);
    SetConfirmSink(previousConfirm);
    platform::SetMsgBoxSink(previousBox);
  }

  void Serve(const char* path, QByteArray status, QByteArray body) {
    server.routes[path] = {std::move(status), std::move(body)};
  }
  void ServeNewVersion(QByteArray archiveBytes, QByteArray status = "200 OK") {
    Serve(kVersionPath, "200 OK", "1402151\n");
    Serve(kDownloadPath, std::move(status), std::move(archiveBytes));
  }
};

std::string Question() {
  return std::string(update::kNewVersionQuestion) + " / default 1";
}

std::shared_ptr<zip::ZipArchive> NewArchive(const fs::path& file) {
  auto zar = std::make_shared<zip::ZipArchive>();
  EXPECT_TRUE(zar->Open(file, true));
  return zar;
}

// Runs the event loop until the job has ended and said so.
void Finish(ZipThread& job) {
  bool ended = false;
  job.Ended.Bind([&] { ended = true; });
  ASSERT_TRUE(Waited([&] { return ended; }));
  EXPECT_TRUE(job.done());
}

// Extracts `zar` into `dest` with a job of its own, as the update does;
// whether the job succeeded.
bool Unpacked(const std::shared_ptr<zip::ZipArchive>& zar, const fs::path& dest) {
  ZipThread job;
  job.Decompress(zar, platform::FolderItem(dest), true);
  Finish(job);
  return job.Succeeded();
}

// An archive of `members` written to `file` and opened for reading.
std::shared_ptr<zip::ZipArchive> RawArchiveAt(const fs::path& file,
                                              std::vector<fixtures::RawMember> members) {
  fixtures::RawArchive raw;
  raw.members = std::move(members);
  fixtures::WriteFile(file, raw.Build());
  auto zar = std::make_shared<zip::ZipArchive>();
  EXPECT_TRUE(zar->Open(file, false)) << zar->ErrorMessage();
  return zar;
}

std::vector<std::string> ArchiveNames(const fs::path& file) {
  zip::ZipArchive zar;
  EXPECT_TRUE(zar.Open(file, false)) << zar.ErrorMessage();
  std::vector<std::string> names;
  for (std::int32_t i = 1; i <= zar.EntryCount(); ++i)
    names.push_back(zar.Entry(i)->RawPath().bytes);
  return names;
}

// The new bundle as the maker would ship it, packed by the archive job.
QByteArray BundleArchive(const fs::path& work) {
  const fs::path bundle = work / "Vantora II X.app";
  fs::create_directories(bundle / "lib");
  fixtures::WriteFile(bundle / "vantora2", "#!/bin/sh\necho new\n");
  fs::permissions(bundle / "vantora2", fs::perms(0755));
  fixtures::WriteFile(bundle / "lib" / "data.bin", std::string(300000, 'x'));
  auto zar = NewArchive(work / "new.zip");
  zar->PreserveUnixPermissions(true);
  ZipThread job;
  job.Compress(zar, platform::FolderItem(bundle), false, zip::ZipArchive::MacBinaryNever());
  Finish(job);
  EXPECT_TRUE(job.Succeeded());
  return QByteArray::fromStdString(fixtures::ReadFile(work / "new.zip"));
}

// How an install into the program's folder laid out by the test ends.
enum class Ends {
  NewBundle,
  AsBefore,
  NewOrAsBefore,   // either, with leftovers of the new one's tidying allowed
  OldNameTaken,    // as before, with the message that names the "OLD " item
  TrashUnusable,   // as before, with the message that names the Trash folder
  FilesKept,       // the replaced notes.txt is in the kept folder
  OldCopyRenamed,  // the running copy is left under its "OLD " name
  NothingLost,     // every file is at its place or where the message says
  NotPrepared,     // refused before anything was unpacked or moved
  LeftoverStays,
  KeptStays,   // refused, with the message that names the kept folder
  EarlierKept  // refused: the kept notes.txt cannot go back, and says so
};

using Change = std::function<void(const fs::path&)>;
struct InstallCase {
  std::string what;
  Ends asRoot, unprivileged;
  Change before = {};    // as root, on the program's folder, before the install
  Change unpacked = {};  // as the user, on the staging folder once unpacked, or
  int raceAtMove = -1;   // just before this move when given
  std::set<int> failingMoves = {};
  int descriptorsLeft = 0;  // 0: no limit
  int failingLook = -1;     // this look at a name while publishing fails
  // At the first look at a name in the program's folder while publishing:
  // a change, and the errno value that look then fails with (0: none).
  std::map<std::string, std::function<int(const fs::path&)>> atLook = {};
  std::optional<std::set<int>> retry = {};  // a second try, failing these moves
  // Before the second try, on the program's folder; and the names in it
  // whose looks fail (EIO) while that try is prepared.
  Change beforeRetry = {};
  std::set<std::string> retryLooksFail = {};
  // Bytes another process put in the staging folder, which must never reach
  // the program's folder.
  std::string foreign = {};
};

std::string Quoted(const fs::path& path) {
  return "\"" + path.string() + "\".";
}

using update_test::Put;

// Renames `from` to `to`, for a look that then goes on.
int Renamed(const fs::path& from, const fs::path& to) {
  fs::rename(from, to);
  return 0;
}

// How many looks at a name the last publish made.
int looksMade = 0;

// One try of an install into `program`: the outcome, the message, and
// whether it was prepared.
struct Try {
  bool prepared = false;
  update::Installation::Outcome outcome = update::Installation::Outcome::Failed;
  std::string message;
};
Try InstallOnce(const fs::path& work, const InstallCase& c, const std::set<int>& failingMoves,
                std::size_t& peak, bool again = false) {
  const fs::path program = work / "Programs", staging = program / ".VAII021514.unpacking";
  Try t;
  update::Installation install({program, {}}, work / "Trash", work / "VAII021514.zip");
  install.BeforeEachMove = [&](int move) {
    if (c.descriptorsLeft == 0) peak = std::max(peak, ziptest::OpenDescriptors());
    if (move == c.raceAtMove) c.unpacked(staging);
    return failingMoves.count(move) == 0;
  };
  if (again && c.beforeRetry) c.beforeRetry(program);
  fixtures::lookFails = [&](int, const char* name) {
    return again && c.retryLooksFail.count(name) != 0 ? EIO : 0;
  };
  t.prepared = install.Prepare();
  fixtures::lookFails = nullptr;
  if (t.prepared) {
    update_test::LayNewRelease(staging);
    if (c.unpacked && c.raceAtMove < 0) c.unpacked(staging);
    // What the job would have made: all there is but what another adds.
    const platform::MadeItems made = update_test::AllMade(staging);
    std::optional<ziptest::DescriptorLimit> limit;
    if (c.descriptorsLeft > 0) limit.emplace(c.descriptorsLeft);
    looksMade = 0;
    std::set<std::string> looked;
    fixtures::lookFails = [&](int folder, const char* name) {
      const auto at = c.atLook.find(name);
      if (at != c.atLook.end() &&
          fs::read_symlink("/proc/self/fd/" + std::to_string(folder)) == fs::canonical(program) &&
          looked.insert(name).second) {
        if (const int error = at->second(program)) return error;
      }
      return looksMade++ == c.failingLook ? EIO : 0;
    };
    t.outcome = install.Publish(made);
    fixtures::lookFails = nullptr;
  }
  t.message = install.FailureMessage();
  return t;
}

// Every file of the program's folder as it was `before` is at its place, or
// where the message `said` puts it; with `named`, so is every file of the
// new version left in the program's folder.
bool NoneLost(const std::map<std::string, std::string>& before, const fs::path& program,
              const std::string& said, bool named) {
  const fs::path kept = program / ".VAII021514.replaced";
  const std::string bundle = "Vantora II X.app/";
  const auto holds = [](const fs::path& file, const std::string& bytes) {
    return fs::is_regular_file(fs::symlink_status(file)) && fixtures::ReadFile(file) == bytes;
  };
  for (const char* added : {"data/new.txt", "docs/a.txt", "Vantora II X.app/lib/x"}) {
    if (named && fs::exists(program / added) &&
        said.find(update::kNewFilesStayText + Quoted(program)) == std::string::npos) {
      return false;
    }
  }
  for (const auto& [name, bytes] : before) {
    if (bytes == "/") continue;
    // The old bundle may bear its "OLD " name, as after an install, where
    // the new one took its place.
    if (!holds(program / name, bytes) &&
        !(name.rfind(bundle, 0) == 0 && holds(program / ("OLD " + name), bytes)) &&
        !(said.find(Quoted(kept)) != std::string::npos && holds(kept / name, bytes))) {
      return false;
    }
  }
  return true;
}

// Prepares and publishes an install of a new bundle, data/new.txt, a new
// notes.txt and docs/a.txt into `work`/Programs, which holds the old bundle,
// data/old.txt and notes.txt; what differs from how `c` should end, "" for
// nothing.
std::string InstallIn(const fs::path& work, const InstallCase& c, Ends expected) {
  const fs::path program = work / "Programs", staging = program / ".VAII021514.unpacking",
                 kept = program / ".VAII021514.replaced";
  const fs::path bundle = program / "Vantora II X.app", old = program / "OLD Vantora II X.app";
  const bool compared = expected == Ends::AsBefore || expected == Ends::NewOrAsBefore ||
                        expected == Ends::OldNameTaken || expected == Ends::TrashUnusable ||
                        expected == Ends::NothingLost;
  const auto before = compared ? ziptest::Snapshot(program) : std::map<std::string, std::string>{};
  const auto outside = ziptest::Snapshot(work / "outside");
  const std::size_t descriptors = ziptest::OpenDescriptors();
  std::size_t peak = 0;
  Try t = InstallOnce(work, c, c.failingMoves, peak);
  std::string wrong;
  const auto check = [&](bool ok, const char* what) { wrong += ok ? "" : what; };
  if (c.retry && expected == Ends::NothingLost) {
    check(NoneLost(before, program, t.message, true), "the first try's message is wrong; ");
  }
  if (c.retry) t = InstallOnce(work, c, *c.retry, peak, true);
  // What the message says of where things are, and apart from it the
  // system's reason: a move or a look failed as a disk would is named.
  const std::size_t reasonAt = t.message.find(update::kReasonText);
  const std::string reason =
      reasonAt == std::string::npos ? "" : t.message.substr(reasonAt + strlen(update::kReasonText));
  t.message = t.message.substr(0, reasonAt);
  const auto read = [](const fs::path& file) { return fixtures::ReadFile(file); };
  check(ziptest::Snapshot(work / "outside") == outside, "something outside changed; ");
  for (const auto& [name, bytes] : ziptest::Snapshot(program)) {
    check(c.foreign.empty() || bytes != c.foreign || name.rfind(".VAII021514.unpacking", 0) == 0,
          "another's file was moved in; ");
  }
  check(ziptest::OpenDescriptors() == descriptors, "descriptors were left open; ");
  // The two walks of the program's and the staging folder, and a few.
  check(peak <= descriptors + 3 * platform::FolderWalk::kHeldOpen + 6, "too many descriptors; ");
  const bool failed = t.prepared && t.outcome == update::Installation::Outcome::Failed;
  check(!failed || (c.failingMoves.empty() && c.failingLook < 0 && !c.retry) ||
            reason.find("Input/output error") != std::string::npos,
        "the failed disk's reason is not given; ");
  const bool inPlace = t.prepared && t.outcome == update::Installation::Outcome::NewBundle &&
                       read(bundle / "vantora2") == "new" && read(old / "vantora2") == "old" &&
                       read(program / "notes.txt") == "new notes" &&
                       read(program / "data" / "old.txt") == "old data" &&
                       fs::exists(program / "docs" / "a.txt");
  const auto asBefore = [&](const std::string& said) {
    return failed && t.message == said && ziptest::Snapshot(program) == before;
  };
  const std::string notAll = std::string(update::kNotAllPutBackMessage) + update::kCopyInPlaceText;
  switch (expected) {
    case Ends::NewBundle:
      check(inPlace && !fs::exists(staging) && !fs::exists(kept), "not all in place");
      break;
    case Ends::AsBefore:
      check(asBefore(update::kNotInstalledMessage), "the program's folder changed");
      break;
    case Ends::NewOrAsBefore:
      // A look at the Trash that fails is the Trash's, and names it.
      check(inPlace || asBefore(update::kNotInstalledMessage) ||
                asBefore(update::kTrashUnusableMessage + Quoted(work / "Trash")),
            "neither in place nor as before");
      break;
    case Ends::OldNameTaken:
      check(asBefore(update::kOldNameTakenMessage + Quoted(old)), "not as before, or not named");
      break;
    case Ends::TrashUnusable:
      check(asBefore(update::kTrashUnusableMessage + Quoted(work / "Trash")),
            "not as before, or the Trash not named");
      break;
    case Ends::FilesKept:
      check(failed && t.message == notAll + update::kKeptInText + Quoted(kept) &&
                read(bundle / "vantora2") == "old" && read(kept / "notes.txt") == "old notes",
            "not where the message says");
      break;
    case Ends::OldCopyRenamed:
      check(
          failed &&
              t.message == std::string(update::kNotAllPutBackMessage) + update::kCopyRenamedText &&
              read(old / "vantora2") == "old" && !fs::exists(bundle / "vantora2"),
          "not where the message says");
      break;
    case Ends::NothingLost:
      check(t.outcome != update::Installation::Outcome::Placed &&
                NoneLost(before, program, t.message, !c.retry),
            "a file is neither at its place nor where the message says");
      break;
    case Ends::NotPrepared:
      check(!t.prepared && t.message == update::kNotInstalledMessage &&
                read(bundle / "vantora2") == "old" && read(program / "notes.txt") == "old notes",
            "not refused as it was prepared");
      break;
    case Ends::EarlierKept:
      check(!t.prepared &&
                t.message == std::string(update::kEarlierNotPutBackMessage) +
                                 update::kCopyInPlaceText + update::kKeptInText + Quoted(kept) &&
                read(kept / "notes.txt") == "old notes" &&
                read(program / "notes.txt") == "the user's newer notes",
            "not where the message says");
      break;
    case Ends::LeftoverStays:
    case Ends::KeptStays:
      check(!t.prepared &&
                t.message == (expected == Ends::KeptStays
                                  ? update::kKeptStaysMessage + Quoted(kept)
                                  : update::kLeftoverStaysMessage + Quoted(staging)) &&
                read(bundle / "vantora2") == "old",
            "not where the message says");
      break;
  }
  if (!wrong.empty()) wrong += " (said: " + t.message + ")";
  return wrong;
}

// Gives everything in `folder` to `uid`, but what lies in a folder named
// "theirs".
void GiveTo(const fs::path& folder, uid_t uid) {
  ::lchown(folder.c_str(), uid, uid);
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
    if (it->path().filename() == "theirs") it.disable_recursion_pending();
    if (it->path().filename() != "theirs") ::lchown(it->path().c_str(), uid, uid);
  }
}

}  // namespace

TEST_F(UpdateRoad, VersionAnswers) {
  struct Case {
    QByteArray status, body;
    bool direct, answer;
    std::vector<std::string> questions, messages;
    std::vector<QByteArray> requested;
  };
  const std::vector<std::string> none;
  const std::vector<std::string> upToDate{update::kUpToDateMessage};
  const std::vector<std::string> failed{update::kDownloadFailedMessage};
  const std::vector<QByteArray> check{kVersionPath};
  const Case cases[] = {
      {"200 OK", "1311011", false, true, none, none, check},
      {"200 OK", "1311011", true, true, none, upToDate, check},
      {"200 OK", "1311012", false, false, {Question()}, none, check},
      // Yes: the download of the tag's archive is asked for; here it is
      // missing (404), so nothing is kept.
      {"200 OK", "1402151\n", false, true, {Question()}, failed, {kVersionPath, kDownloadPath}},
      // Not a version: an error page, stray text, too few or too many digits.
      {"404 Not Found", "1402151", true, true, none, upToDate, check},
      {"200 OK", "<html>1402151</html>", true, true, none, upToDate, check},
      {"200 OK", "140215", true, true, none, upToDate, check},
      {"200 OK", "14021510", true, true, none, upToDate, check},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status.toStdString() + " " + c.body.toStdString());
    server.requested.clear();
    messages.clear();
    questions.clear();
    window->DownloadUpdate = false;
    answer = c.answer;
    Serve(kVersionPath, c.status, c.body);
    window->CheckVersion(c.direct);
    ASSERT_TRUE(Waited([&] {
      return server.requested.size() == c.requested.size() && !window->VersSocket.Busy() &&
             messages.size() == c.messages.size();
    }));
    EXPECT_EQ(server.requested, c.requested);
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(window->DownloadUpdate, c.requested.size() == 2);
    EXPECT_FALSE(window->DirectCheck);
    EXPECT_EQ(Listing(program), std::vector<std::string>{"Vantora II X.app"});
  }
}

TEST_F(UpdateRoad, ProgressWindowShowsBytesAndKibibytes) {
  window->VersSocket_ReceiveProgress(1024, 4096, "");
  EXPECT_FALSE(DLWinIsOpen()) << "opened before the download was accepted";
  window->DownloadUpdate = true;
  window->VersSocket_ReceiveProgress(1024, 4096, "");
  ASSERT_TRUE(DLWinIsOpen());
  DLWindow* win = &DLWin();
  EXPECT_EQ(win->windowTitle(), "Update");
  EXPECT_EQ(win->size(), QSize(300, 69));
  EXPECT_EQ(win->minimumSize(), win->maximumSize());
  EXPECT_FALSE(win->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_EQ(win->progress.Maximum(), 4);
  EXPECT_EQ(win->progress.Value(), 1);
  EXPECT_EQ(win->Prog.Text(), "1024 of 4096 bytes");
  window->VersSocket_ReceiveProgress(4096, 4096, "");
  EXPECT_EQ(&DLWin(), win);
  EXPECT_EQ(win->progress.Value(), 4);
  EXPECT_EQ(win->Prog.Text(), update::kExtractingText);
  window->VersSocket_ReceiveProgress(500, 1000, "");
  EXPECT_EQ(win->progress.Maximum(), 0);
  // No length from the server: what has arrived is shown.
  window->VersSocket_ReceiveProgress(70000, -1, "");
  EXPECT_EQ(win->Prog.Text(), "70000 bytes");
}

// The whole road: version, download, the job unpacking beside the program,
// the old bundle renamed, and the hand-over only once the unit is no longer
// being programmed.
TEST_F(UpdateRoad, NewCopyTakesOverOnceTheLinkIsIdle) {
  ServeNewVersion(BundleArchive(dir / "maker"));
  window->Programming = true;
  window->CheckVersion(false);
  ASSERT_TRUE(Waited([&] { return fs::exists(program / "OLD Vantora II X.app"); }));
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_TRUE(handedOver.empty()) << "handed over while a settings write was underway";
  ASSERT_TRUE(DLWinIsOpen());
  EXPECT_EQ(DLWin().Prog.Text(), update::kExtractingText);
  EXPECT_EQ(DLWin().progress.Value(), DLWin().progress.Maximum());

  window->Programming = false;
  ASSERT_TRUE(Waited([&] { return !handedOver.empty(); }));
  EXPECT_EQ(handedOver, std::vector<fs::path>{program / "Vantora II X.app"});
  EXPECT_EQ(fixtures::ReadFile(program / "Vantora II X.app" / "vantora2"), "#!/bin/sh\necho new\n");
  EXPECT_NE(
      fs::status(program / "Vantora II X.app" / "vantora2").permissions() & fs::perms::owner_exec,
      fs::perms::none);
  EXPECT_EQ(fs::file_size(program / "Vantora II X.app" / "lib" / "data.bin"), 300000u);
  EXPECT_EQ(fixtures::ReadFile(program / "OLD Vantora II X.app" / "vantora2"), "old");
  EXPECT_EQ(Listing(program),
            (std::vector<std::string>{"OLD Vantora II X.app", "Vantora II X.app"}));
  EXPECT_EQ(questions, std::vector<std::string>{Question()});
  EXPECT_TRUE(messages.empty()) << messages.front();
}

// A copy left under the "OLD " name by an earlier update, which the Trash
// could not take at the last start, makes way for the next update; the copy
// that is running never goes, and the update is then refused as before.
TEST_F(UpdateRoad, AStaleOldCopyMakesWayUnlessItIsRunning) {
  const fs::path old = program / "OLD Vantora II X.app";
  fs::create_directories(old);
  fixtures::WriteFile(old / "vantora2", "stale");
  // A running copy that could not be looked at as the program started may
  // be any copy: none is taken for an old one that may go.
  const fs::path bundle = program / update::kBundleName;
  fixtures::lookFails = [&](int, const char* name) { return name == bundle.string() ? EIO : 0; };
  const update::ProgramPlace unknown = update::LocateProgram(bundle);
  fixtures::lookFails = nullptr;
  int error = 0;
  const auto folder = platform::OpenFolder::Open(AT_FDCWD, program.c_str(), 0, error);
  ASSERT_TRUE(folder);
  EXPECT_EQ(update::LookAtOldName(folder->fd(), unknown), update::AtOldName::Running);

  ServeNewVersion(BundleArchive(dir / "maker"));
  window->RunningCopy = update::LocateProgram(old).Running;
  window->CheckVersion(false);
  ASSERT_TRUE(Waited([&] { return !messages.empty() && !fs::exists(archive); }));
  EXPECT_EQ(messages, std::vector<std::string>{update::kNotInstalledMessage});
  EXPECT_EQ(fixtures::ReadFile(old / "vantora2"), "stale");
  EXPECT_EQ(fixtures::ReadFile(program / "Vantora II X.app" / "vantora2"), "old");
  EXPECT_FALSE(fs::exists(dir / "Trash"));

  messages.clear();
  window->DownloadUpdate = false;
  window->RunningCopy = update::LocateProgram(program / "Vantora II X.app").Running;
  window->CheckVersion(false);
  ASSERT_TRUE(Waited([&] { return !handedOver.empty(); }));
  EXPECT_EQ(fixtures::ReadFile(dir / "Trash" / "files" / "OLD Vantora II X.app" / "vantora2"),
            "stale");
  EXPECT_EQ(fixtures::ReadFile(old / "vantora2"), "old");
  EXPECT_EQ(fixtures::ReadFile(program / "Vantora II X.app" / "vantora2"), "#!/bin/sh\necho new\n");
  EXPECT_TRUE(messages.empty()) << messages.front();
}

// Run from no bundle (a build tree), the program has nothing to replace: the
// update is only unpacked beside it, and it keeps running.
TEST_F(UpdateRoad, WithoutABundleTheNewCopyIsOnlyUnpacked) {
  const update::ProgramPlace installed = update::LocateProgram("/opt/v/Vantora II X.app/");
  EXPECT_EQ(installed.Folder, "/opt/v");
  EXPECT_EQ(installed.Bundle, "/opt/v/Vantora II X.app");
  const update::ProgramPlace built = update::LocateProgram("/src/build/src/app");
  EXPECT_EQ(built.Folder, "/src/build/src/app");
  EXPECT_TRUE(built.Bundle.empty());
  EXPECT_TRUE(update::LocateProgram("/src/.app").Bundle.empty());

  fs::remove_all(program / "Vantora II X.app");
  ServeNewVersion(BundleArchive(dir / "maker"));
  window->CheckVersion(false);
  ASSERT_TRUE(Waited([&] { return fs::exists(program / "Vantora II X.app" / "vantora2"); }));
  EXPECT_FALSE(DLWinIsOpen());
  EXPECT_TRUE(fs::exists(archive));
  EXPECT_EQ(Listing(program), (std::vector<std::string>{"VAII021514.zip", "Vantora II X.app"}));
  EXPECT_TRUE(handedOver.empty());
  EXPECT_TRUE(messages.empty());
}

// The question waits while a modal dialog (the start-up message, say) is on
// screen: all that the answer starts would otherwise run inside that dialog.
TEST_F(UpdateRoad, TheOfferWaitsForTheModalDialogToGo) {
  answer = false;
  Serve(kVersionPath, "200 OK", "1402151\n");
  QDialog dialog;
  dialog.setModal(true);
  dialog.show();
  window->CheckVersion(false);
  ASSERT_TRUE(Waited([&] { return window->UpdateOfferWaiting(); }));
  EXPECT_TRUE(questions.empty());
  dialog.hide();
  ASSERT_TRUE(Waited([&] { return !window->UpdateOfferWaiting(); }));
  EXPECT_EQ(questions, std::vector<std::string>{Question()});
}

// Whatever goes wrong after Yes, the running copy stays as it was under its
// own name, nothing of the download or of a half-unpacked copy is left, the
// window goes and the program keeps running.
TEST_F(UpdateRoad, FailuresKeepTheRunningCopy) {
  using fixtures::Member;
  const std::string bundle = "Vantora II X.app/";
  fixtures::RawArchive badMember, climbing, notRunnable, noBundle, bundleAFile;
  badMember.members = {
      Member(bundle + "vantora2", "new"),
      fixtures::With(Member(bundle + "lib/bad.bin", "data"), [](auto& m) { m.crc32 = 1; }),
      Member(bundle + "z.txt", "last")};
  fixtures::RawArchive twoBad = badMember;
  twoBad.members.push_back(
      fixtures::With(Member(bundle + "lib/worse.bin", "data"), [](auto& m) { m.crc32 = 1; }));
  climbing.members = {Member(bundle + "vantora2", "new"), Member("../../escaped.txt", "out")};
  // Stored from Unix as rw-r--r--: the executable would come out unable to run.
  notRunnable.members = {fixtures::With(Member(bundle + "vantora2", "new"), [](auto& m) {
    m.hostSystem = 3;
    m.externalAttributes = 0100644u << 16;
  })};
  bundleAFile.members = {fixtures::With(Member("Vantora II X.app", "#!/bin/sh\n"), [](auto& m) {
    m.hostSystem = 3;
    m.externalAttributes = 0100755u << 16;
  })};
  // Some other program's files, with no bundle at the top.
  noBundle.members = {Member("Other.app/vantora2", "other"), Member("readme.txt", "read me"),
                      Member("Vantora II X/vantora2", "misnamed")};
  struct Case {
    const char* what;
    QByteArray status, body;
    std::string message;  // the start of it
    int cutAfter = -1;    // the connection breaks after this many bytes
  };
  const QByteArray whole = QByteArray::fromStdString(climbing.Build());
  const Case cases[] = {
      {"error status", "500 Internal Server Error", "PK\3\4 an error page",
       update::kDownloadFailedMessage},
      {"cut off", "200 OK", whole, update::kDownloadFailedMessage, int(whole.size()) - 10},
      {"not an archive", "200 OK", "<html>Moved</html>",
       "File does not appear to by a Zip file ('PK' header missing)"},
      {"member fails", "200 OK", QByteArray::fromStdString(badMember.Build()),
       "Extraction of \"Vantora II X.app/lib/bad.bin\" failed: "},
      // The job stops at the first: one message.
      {"two members fail", "200 OK", QByteArray::fromStdString(twoBad.Build()),
       "Extraction of \"Vantora II X.app/lib/bad.bin\" failed: "},
      {"member leaves the folder", "200 OK", QByteArray::fromStdString(climbing.Build()),
       "Extraction of \""},
      {"executable that cannot run", "200 OK", QByteArray::fromStdString(notRunnable.Build()),
       update::kNotInstalledMessage},
      {"no bundle in the archive", "200 OK", QByteArray::fromStdString(noBundle.Build()),
       update::kNotInstalledMessage},
      {"a file in the bundle's place", "200 OK", QByteArray::fromStdString(bundleAFile.Build()),
       update::kNotInstalledMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    foldersAtMessages.clear();
    window->DownloadUpdate = false;
    ServeNewVersion(c.body, c.status);
    server.routes[kDownloadPath].cutAfter = c.cutAfter;
    window->CheckVersion(false);
    ASSERT_TRUE(Waited([&] { return !messages.empty() && !fs::exists(archive); }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(c.message, 0), 0u) << messages[0];
    // The download and all that was unpacked are gone before the box shows:
    // the user may quit from it.
    EXPECT_EQ(foldersAtMessages[0], std::vector<std::string>{"Vantora II X.app"});
    EXPECT_EQ(Listing(program), std::vector<std::string>{"Vantora II X.app"});
    EXPECT_EQ(fixtures::ReadFile(program / "Vantora II X.app" / "vantora2"), "old");
    EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
    EXPECT_FALSE(DLWinIsOpen());
  }
  EXPECT_TRUE(handedOver.empty());
  EXPECT_TRUE(boxesOnMainThread);

  // No network: nobody is asked.
  server.requested.clear();
  HTTPSocket::SetNetworkCheck([] { return false; });
  window->CheckVersion(true);
  EXPECT_FALSE(window->VersSocket.Busy());
  EXPECT_TRUE(server.requested.empty());
}

// Publishing moves only what the job made, through the folders it holds: a
// link, a FIFO or a file linked from outside, put in the staging folder
// after the job, or the staging folder itself swapped for a link, fails the
// installation; the old bundle stays, nothing unpacked is kept, and nothing
// outside changes.
TEST_F(UpdateRoad, PublishingMovesOnlyWhatTheJobMade) {
  using fixtures::Member;
  const std::string bundle = "Vantora II X.app/";
  const fs::path outside = dir / "outside";
  const std::vector<fixtures::RawMember> members = {
      fixtures::With(Member(bundle + "vantora2", "#!/bin/sh\n"),
                     [](auto& m) {
                       m.hostSystem = 3;
                       m.externalAttributes = 0100755u << 16;
                     }),
      Member("data/readme.txt", "read me"),
      // Its type and creator go into a sidecar, which the job writes too.
      Member("notes.txt", "notes",
             zip::ZipArchive().MakeZipExtraField("TEXT", "ttxt", "")->AsData())};
  const auto addFile = [](const fs::path& staging) {
    fixtures::WriteFile(staging / "extra.txt", "not the job's");
  };
  const struct {
    const char* what;
    std::function<void(const fs::path& staging)> race;
    bool whileUnpacking = false;  // as the job first opens a folder
  } cases[] = {
      {"nothing", [](const fs::path&) {}},
      // A plain file the job did not make, whenever it came, or in place of
      // one it made.
      {"a file added", addFile},
      {"a file added while the job unpacks", addFile, true},
      {"a file not the job's in place of one it made",
       [](const fs::path& staging) {
         fixtures::WriteFile(staging / "notes.new", "not the job's");
         fs::rename(staging / "notes.new", staging / "notes.txt");
       }},
      {"a link to a folder outside in place of a folder",
       [&](const fs::path& staging) {
         fs::rename(staging / "data", staging / "data.moved");
         fs::create_directory_symlink(outside, staging / "data");
       }},
      {"a file outside linked in place of a file",
       [&](const fs::path& staging) {
         fs::remove(staging / "notes.txt");
         fs::create_hard_link(outside / "kept.txt", staging / "notes.txt");
       }},
      {"a FIFO", [](const fs::path& staging) { ::mkfifo((staging / "pipe").c_str(), 0600); }},
      {"the staging folder swapped for a link",
       [&](const fs::path& staging) {
         fs::rename(staging, program / ".moved");
         fs::create_directory_symlink(outside, staging);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(outside);
    fs::create_directories(outside / "inside");
    fixtures::WriteFile(outside / "kept.txt", "kept");
    fixtures::WriteFile(outside / "inside" / "file", "outside");
    const auto before = ziptest::Snapshot(outside, true);
    update::Installation install({program, {}}, dir / "Trash", dir / "VAII021514.zip");
    ASSERT_TRUE(install.Prepare());
    ZipThread job;
    if (c.whileUnpacking) {
      beforeFolderOpen = [&, done = false](int, const char*) mutable {
        if (!std::exchange(done, true)) c.race(install.Staging());
      };
    }
    job.Decompress(RawArchiveAt(dir / "new.zip", members), install.StagingItem(), true);
    Finish(job);
    beforeFolderOpen = nullptr;
    ASSERT_TRUE(job.Succeeded()) << job.Message();
    if (!c.whileUnpacking) c.race(install.Staging());
    const bool clean = std::string(c.what) == "nothing";
    EXPECT_EQ(install.Publish(job.Made()), clean ? update::Installation::Outcome::NewBundle
                                                 : update::Installation::Outcome::Failed);
    EXPECT_EQ(ziptest::Snapshot(outside, true), before);
    EXPECT_EQ(fixtures::ReadFile(program / bundle / "vantora2"), clean ? "#!/bin/sh\n" : "old");
    EXPECT_EQ(fs::exists(program / "data" / "readme.txt"), clean);
    EXPECT_FALSE(fs::exists(install.Staging() / "notes.txt"));
    // Back to the old bundle alone for the next row.
    for (const auto& item : fs::directory_iterator(program)) {
      if (item.path().filename() != "Vantora II X.app") fs::remove_all(item.path());
    }
    if (clean) {
      fs::remove_all(program / bundle);
      fs::create_directories(program / bundle);
      fixtures::WriteFile(program / bundle / "vantora2", "old");
    }
  }
}

// However the install fails, as root or as a user, the program's folder is
// left as it was, item for item, or, when even that fails, the message says
// where the old copy and what could not be put back are. Nothing outside
// changes and every descriptor is closed.
TEST_F(UpdateRoad, AFailedInstallLeavesTheProgramFolderAsItWas) {
  std::string deep = "deep";
  for (int i = 0; i < 300; ++i) deep += "/t";
  const auto out = [](const fs::path& p) { return p.parent_path().parent_path() / "outside"; };
  const auto leftover = [&](const char* inside) {
    return [=](const fs::path& program) {
      const fs::path left = program / ".VAII021514.unpacking";
      Put(left / inside / "deeper" / "f", "left");
      fs::create_directory_symlink(out(left) / "folder", left / "link");
      fs::create_symlink(out(left) / "file", left / inside / "l");
      fs::create_directory(left / "closed");
      fs::permissions(left / "closed", fs::perms::none);
    };
  };
  const Change linkedOut = [&](const fs::path& s) {
    fs::remove(s / "notes.txt");
    fs::create_hard_link(out(s) / "file", s / "notes.txt");
  };
  const Change secondName = [](const fs::path& s) {
    fs::create_hard_link(s / "notes.txt", s.parent_path().parent_path() / "second");
  };
  const Change olderCopy = [](const fs::path& p) {
    Put(p / "OLD Vantora II X.app" / "vantora2", "older");
    platform::WriteCreationDate(platform::ItemAt(p / "OLD Vantora II X.app"), 86400, nullptr);
  };
  // At the folder's first open, the folder made goes away and another
  // item (a link to outside, or a folder) takes its name.
  const auto swappedAtOpen = [&](const char* name, bool link) -> Change {
    return [=](const fs::path& p) {
      beforeFolderOpen = [=, done = std::make_shared<bool>(false)](int, const char* opened) {
        if (*done || std::string(opened) != name) return;
        *done = true;
        fs::rename(p / name, p.parent_path() / "made");
        if (link) fs::create_directory_symlink(out(p) / "folder", p / name);
        if (!link) Put(p / name / "notes.txt", "theirs");
      };
    };
  };
  const Change fifo = [](const fs::path& s) {
    fs::remove(s / "data" / "new.txt");
    ::mkfifo((s / "data" / "new.txt").c_str(), 0600);
  };
  const auto E = Ends::AsBefore;
  const auto N = Ends::NewBundle;
  const Change none;
  const auto fails = [](int a, int b) { return std::set<int>{a, b}; };
  std::vector<InstallCase> cases = {
      {"nothing wrong", N, N},
      {"the replaced file cannot be put back", Ends::FilesKept, Ends::FilesKept, none, none, -1,
       fails(5, 6)},
      {"the old copy cannot get its name back", Ends::OldCopyRenamed, Ends::OldCopyRenamed, none,
       none, -1, fails(1, 2)},
      // The bundle is found by its name, not by its place; the folder for
      // what is moved aside by a name of its own.
      {"items named before the bundle and like the holding folder", N, N,
       [](auto& p) { Put(p / "License", "old"); },
       [](auto& s) {
         Put(s / "License", "new");
         Put(s / ".replaced" / "x", "x");
       }},
      {"a file that became a folder", E, E, [](auto& p) { Put(p / "docs", "a file"); }},
      {"a folder that became a file", E, E,
       [](auto& p) {
         fs::remove(p / "notes.txt");
         Put(p / "notes.txt" / "inner", "");
       }},
      {"an unreadable folder hiding a link", E, E, none,
       [&](auto& s) {
         fs::create_directory(s / "docs" / "inner");
         fs::create_directory_symlink(out(s) / "folder", s / "docs" / "inner" / "link");
         fs::permissions(s / "docs" / "inner", fs::perms(0300));
       }},
      {"a deep tree merged", N, N, [&](auto& p) { fs::create_directories(p / deep); },
       [&](auto& s) { Put(s / deep / "leaf", "leaf"); }},
      // As few descriptors as moving what made way to the Trash takes.
      {"a deep tree with eight descriptors left", N, N, none,
       [&](auto& s) { fs::create_directories(s / deep); }, -1, std::set<int>(), 8},
      {"a leftover staging folder holding links to outside", N, N, leftover("mine")},
      {"a leftover staging folder the user cannot remove", N, Ends::LeftoverStays,
       leftover("theirs")},
      {"a file at the kept folder's name stays", Ends::KeptStays, Ends::KeptStays,
       [](auto& p) { Put(p / ".VAII021514.replaced", "mine"); }},
      // What the job made changes while it is published. The moves: the old
      // bundle's, the new one's, data/new.txt's, docs's, and notes.txt's,
      // which makes way for it first.
      {"a hard link after the check", E, E, none, linkedOut, 0},
      {"a FIFO just before its move", E, E, none, fifo, 2},
      {"a link into a folder just before its move", E, E, none,
       [&](auto& s) { fs::create_symlink(out(s) / "file", s / "docs" / "l"); }, 3},
      {"a hard link just before its move", E, E, none, linkedOut, 5},
      {"the folder a file goes into swapped for another as the install enters it", E, E, none,
       [](auto& s) {
         const fs::path p = fs::canonical(s.parent_path());
         beforeFolderOpen = [p, done = std::make_shared<bool>(false)](int in, const char* name) {
           if (*done || std::string(name) != "data" ||
               fs::read_symlink("/proc/self/fd/" + std::to_string(in)) != p) {
             return;
           }
           *done = true;
           fs::rename(p / "data", p.parent_path() / "data.moved");
           Put(p / "data" / "old.txt", "old data");
         };
       }},
      {"a folder at the bundle's name once the old one has made way", Ends::OldCopyRenamed,
       Ends::OldCopyRenamed, none,
       [](auto& s) { fs::create_directory(s.parent_path() / "Vantora II X.app"); }, 1},
      // A file added in place of one the archive never named is left behind.
      {"a file added", N, N, none, [](auto& s) { Put(s / "data" / "old.txt", "added"); }, 1},
      // A file of the job's given a second name from outside, before the
      // publish or before its move; a file of a folder moved whole swapped
      // for a link just before that move.
      {"a second name given from outside", E, E, none, secondName},
      {"a second name given just before the move", E, E, none, secondName, 3},
      {"a second name given to a file of a folder just before the folder's move", E, E, none,
       [](auto& s) {
         fs::create_hard_link(s / "docs" / "a.txt", s.parent_path().parent_path() / "second");
       },
       3},
      {"a file in a folder swapped for a link just before the folder's move", E, E, none,
       [&](auto& s) {
         fs::remove(s / "docs" / "a.txt");
         fs::create_symlink(out(s) / "file", s / "docs" / "a.txt");
       },
       3},
      // An old copy left at the "OLD " name makes way like any item, and
      // goes to the Trash only once all is in place.
      {"an earlier old copy goes once all is in place", N, N, olderCopy},
      {"an earlier old copy stays when the release is refused", E, E,
       [&](auto& p) {
         olderCopy(p);
         Put(p / "docs", "a file");
       }},
      {"an earlier old copy and its sidecar come back when a move fails", E, E, olderCopy, none, -1,
       fails(4, -1)},
      {"an earlier old copy, and a Trash that cannot be made", Ends::TrashUnusable,
       Ends::TrashUnusable,
       [&](auto& p) {
         olderCopy(p);
         Put(p.parent_path() / "Trash", "no folder");
       }},
      {.what = "the look at the \"OLD \" name fails",
       .asRoot = E,
       .unprivileged = E,
       .atLook = {{"OLD Vantora II X.app", [](auto&) { return EIO; }}}},
      {"a file at the \"OLD \" name", Ends::OldNameTaken, Ends::OldNameTaken,
       [](auto& p) { Put(p / "OLD Vantora II X.app", "mine"); }},
      // The bundle is never merged into: not where one came back after the
      // look found none.
      {.what = "the bundle moved away as it is looked for, and back",
       .asRoot = E,
       .unprivileged = E,
       .atLook = {{"Vantora II X.app",
                   [](auto& p) { return Renamed(p / "Vantora II X.app", p / "away"); }},
                  {".VAII021514.replaced",
                   [](auto& p) { return Renamed(p / "away", p / "Vantora II X.app"); }}}},
      {.what = "a release with no bundle, and the look for the one there fails",
       .asRoot = E,
       .unprivileged = E,
       .unpacked = [](auto& s) { fs::remove_all(s / "Vantora II X.app"); },
       .atLook = {{"Vantora II X.app", [](auto&) { return EIO; }}}},
      // The folders the install makes are the ones it uses.
      {"the staging folder swapped for a link as it is made", Ends::NotPrepared, Ends::NotPrepared,
       swappedAtOpen(".VAII021514.unpacking", true)},
      {"the kept folder swapped for another as it is made", Ends::NothingLost, Ends::NothingLost,
       swappedAtOpen(".VAII021514.replaced", false)},
      // What a failed try kept goes back on the next, or stays, named.
      {.what = "what was kept goes back on the next try",
       .asRoot = N,
       .unprivileged = N,
       .failingMoves = fails(5, 6),
       .retry = std::set<int>{}},
      {.what = "what was kept in a folder goes back into it on the next try",
       .asRoot = N,
       .unprivileged = N,
       .before = [](auto& p) { Put(p / "data" / "new.txt", "older data"); },
       .failingMoves = fails(3, 4),
       .retry = std::set<int>{}},
      {.what = "the old copy gets its name back on the next try",
       .asRoot = N,
       .unprivileged = N,
       .failingMoves = fails(1, 2),
       .retry = std::set<int>{}},
      // Nothing goes back onto what the user has put in its place since,
      // and a kept folder that cannot be looked at is not taken for none.
      {.what = "a newer file of the user's at a kept item's place stays",
       .asRoot = Ends::EarlierKept,
       .unprivileged = Ends::EarlierKept,
       .failingMoves = fails(5, 6),
       .retry = std::set<int>{},
       .beforeRetry = [](auto& p) { Put(p / "notes.txt", "the user's newer notes"); }},
      {.what = "the kept folder cannot be looked at on the next try",
       .asRoot = Ends::KeptStays,
       .unprivileged = Ends::KeptStays,
       .failingMoves = fails(5, 6),
       .retry = std::set<int>{},
       .retryLooksFail = {".VAII021514.replaced"}},
      // What arrives is checked whole: a file of the bundle made again just
      // before the bundle moves is not the job's, whatever inode it got.
      {"a file of the bundle made again just before the bundle moves", E, E, none,
       [](auto& s) {
         fs::remove(s / "Vantora II X.app" / "lib" / "x");
         Put(s / "Vantora II X.app" / "lib" / "x", "x");
       },
       1},
      // Another's file in place of one of the job's is never moved in, even
      // where nothing can be moved back after.
      {.what = "another's file in place of one of the job's, and moves failing after",
       .asRoot = Ends::NothingLost,
       .unprivileged = Ends::NothingLost,
       .unpacked =
           [](auto& s) {
             fs::remove(s / "data" / "new.txt");
             Put(s / "data" / "new.txt", "theirs");
           },
       .raceAtMove = 1,
       .failingMoves = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       .foreign = "theirs"},
  };
  // A move that fails, one at a time, as many as a clean install makes.
  for (int move = 0; move < 6; ++move) {
    cases.push_back(
        {"move " + std::to_string(move) + " fails", E, E, none, none, -1, fails(move, -1)});
  }
  // Every move from one on fails, then the next try's first: whatever the
  // undo could not put back is never lost.
  for (int move = 0; move < 6; ++move) {
    std::set<int> from;
    for (int m = move; m < move + 40; ++m) from.insert(m);
    cases.push_back(
        {.what = "moves fail from " + std::to_string(move) + " on, then the retry's first",
         .asRoot = Ends::NothingLost,
         .unprivileged = Ends::NothingLost,
         .failingMoves = from,
         .retry = std::set<int>{0}});
  }
  const auto layOut = [](const fs::path& work) {
    Put(work / "Programs" / "Vantora II X.app" / "vantora2", "old");
    Put(work / "Programs" / "data" / "old.txt", "old data");
    Put(work / "Programs" / "notes.txt", "old notes");
    Put(work / "outside" / "file", "outside");
    fs::create_directories(work / "outside" / "folder");
  };
  {
    // Each look at a name that a clean publish makes fails in turn: never
    // taken for nothing there.
    fixtures::TempDir counting;
    layOut(counting.path());
    ASSERT_EQ(InstallIn(counting.path(), cases.front(), N), "");
    for (int look = 0; look < looksMade; ++look) {
      cases.push_back({.what = "look " + std::to_string(look) + " fails",
                       .asRoot = Ends::NewOrAsBefore,
                       .unprivileged = Ends::NewOrAsBefore,
                       .failingLook = look});
    }
  }
  for (const InstallCase& c : cases) {
    for (const bool asRoot : {true, false}) {
      SCOPED_TRACE(c.what + (asRoot ? ", as root" : ", as a user"));
      fixtures::TempDir work;
      layOut(work.path());
      if (c.before) c.before(work / "Programs");
      if (!asRoot) GiveTo(work.path(), test_support::kUnprivilegedId);
      const auto run = [&] {
        std::string wrong;
        try {
          wrong = InstallIn(work.path(), c, asRoot ? c.asRoot : c.unprivileged);
        } catch (const std::exception& e) {
          wrong = e.what();
        }
        std::fprintf(stderr, "%s\n", wrong.c_str());
        return wrong.empty();
      };
      // In a child either way, so that its descriptor limit binds no thread
      // of this process.
      EXPECT_TRUE(asRoot ? test_support::InChildWithin(std::chrono::minutes(1), run) == true
                         : test_support::RunUnprivileged(run));
      beforeFolderOpen = nullptr;
    }
  }
}

// A staging folder left by an interrupted update that cannot be removed (one
// of its files is immutable) stops the update with a message that names it,
// rather than the general one at every try; the running copy stays.
TEST_F(UpdateRoad, ALeftoverThatCannotBeRemovedIsNamed) {
  const fs::path left = program / ".VAII021514.unpacking";
  fs::create_directories(left);
  fixtures::WriteFile(left / "stuck", "immutable");
  const auto immutable = [&](bool set) {
    const int fd = ::open((left / "stuck").c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags = set ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL,
                       ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) ::close(fd);
    return done;
  };
  if (!immutable(true)) GTEST_SKIP() << "no immutable files here";
  ServeNewVersion(BundleArchive(dir / "maker"));
  window->CheckVersion(false);
  const bool told = Waited([&] { return !messages.empty(); });
  immutable(false);
  ASSERT_TRUE(told);
  EXPECT_EQ(messages, std::vector<std::string>{update::kLeftoverStaysMessage + Quoted(left) +
                                               update::kReasonText + "Operation not permitted."});
  EXPECT_EQ(fixtures::ReadFile(program / "Vantora II X.app" / "vantora2"), "old");
  EXPECT_FALSE(fs::exists(archive));

  // Discarding a staging folder says whether it went.
  update::Installation install({program, {}}, dir / "Trash", archive);
  ASSERT_TRUE(install.Prepare());
  fixtures::WriteFile(left / "stuck", "immutable");
  ASSERT_TRUE(immutable(true));
  EXPECT_FALSE(install.Discard());
  immutable(false);
  EXPECT_TRUE(install.Discard());
}

TEST_F(UpdateRoad, JobsThatEndWithoutAMessage) {
  // A plain file: one entry of its own, no folder walk.
  fixtures::WriteFile(dir / "notes.txt", "some notes");
  auto zar = NewArchive(dir / "plain.zip");
  {
    ZipThread job;
    job.Compress(zar, platform::FolderItem(dir / "notes.txt"), false, 0);
    Finish(job);
    EXPECT_TRUE(job.Succeeded());
    EXPECT_EQ(job.Total(), 10.0);
  }
  EXPECT_FALSE(zar->IsOpen());
  EXPECT_EQ(ArchiveNames(dir / "plain.zip"), std::vector<std::string>{"notes.txt"});

  // An archive with no members (its directory holds only "/"): nothing is
  // made, and the archive is closed.
  NewArchive(dir / "empty.zip")->Close();
  fs::create_directories(dir / "out");
  zar = std::make_shared<zip::ZipArchive>();
  ASSERT_TRUE(zar->Open(dir / "empty.zip", false));
  {
    ZipThread job;
    job.Decompress(zar, platform::FolderItem(dir / "out"), true);
    Finish(job);
    EXPECT_TRUE(job.Succeeded());
    EXPECT_EQ(job.Total(), 0.0);
  }
  EXPECT_FALSE(zar->IsOpen());
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  // With the job as the archive's monitor: the total is the members' sizes,
  // and each member's bytes are counted done once.
  fixtures::WriteFile(dir / "bundle.zip", BundleArchive(dir / "maker").toStdString());
  zar = std::make_shared<zip::ZipArchive>();
  ASSERT_TRUE(zar->Open(dir / "bundle.zip", false));
  {
    ZipThread job;
    zar->SetProgressMonitor(std::shared_ptr<zip::ZipProgressNotifier>(&job, [](auto*) {}));
    job.Decompress(zar, platform::FolderItem(dir / "unpacked"), true);
    Finish(job);
    zar->SetProgressMonitor(nullptr);
    EXPECT_TRUE(job.Succeeded());
    EXPECT_EQ(job.Total(), 300000.0 + 19);  // data.bin and vantora2; folders count 0
    EXPECT_EQ(job.Finished(), job.Total());
  }

  // A hidden file that takes its Mac name on the way out is made visible
  // where it ended up.
  const fs::path hidden = dir / "mac" / "A\\C";
  fs::create_directories(hidden.parent_path());
  fixtures::WriteFile(hidden, "was hidden");
  ASSERT_TRUE(platform::FolderItem(hidden).SetVisible(false));
  zar = NewArchive(dir / "mac.zip");
  ASSERT_GT(zar->AddItemToRoot(platform::FolderItem(hidden), zip::ZipArchive::MacBinaryAlways()),
            0);
  ASSERT_TRUE(zar->Close());
  ASSERT_TRUE(zar->Open(dir / "mac.zip", false));
  EXPECT_EQ(zar->Entry(1)->RawPath().bytes, "A-C");
  EXPECT_TRUE(Unpacked(zar, dir / "out"));
  ASSERT_EQ(fixtures::ReadFile(dir / "out" / "A\\C"), "was hidden");
  EXPECT_TRUE(platform::FolderItem(dir / "out" / "A\\C").Visible());

  // A member that names the root: the root's own sidecar lies beside it,
  // outside what the job may change, and is left as it was, hidden or not.
  ASSERT_TRUE(platform::FolderItem(dir / "out").SetVisible(false));
  const std::string rootSidecar = fixtures::ReadFile(dir / "._out");
  EXPECT_TRUE(Unpacked(RawArchiveAt(dir / "root.zip", {fixtures::Member("a/../")}), dir / "out"));
  EXPECT_EQ(fixtures::ReadFile(dir / "._out"), rootSidecar);

  // An archive that is not open: the job ends on the error, silently.
  ZipThread closed;
  closed.Decompress(std::make_shared<zip::ZipArchive>(), platform::FolderItem(dir / "out"), true);
  Finish(closed);
  EXPECT_FALSE(closed.Succeeded());
  EXPECT_TRUE(messages.empty());
}

TEST_F(UpdateRoad, FailuresOfTheWholeJobAreReported) {
  // 2 GiB without the disk space: a file with a hole.
  const fs::path big = dir / "big.bin";
  fixtures::WriteFile(big, "");
  fs::resize_file(big, std::uintmax_t{1} << 31);
  auto zar = NewArchive(dir / "big.zip");
  ZipThread job;
  job.Compress(zar, platform::FolderItem(big), false, 0);
  Finish(job);
  EXPECT_FALSE(job.Succeeded());
  EXPECT_TRUE(job.Reported());
  EXPECT_EQ(messages, std::vector<std::string>{"data exceeds archive limit of 2GB"});
  EXPECT_TRUE(boxesOnMainThread);
  EXPECT_FALSE(zar->IsOpen());
  EXPECT_EQ(ArchiveNames(dir / "big.zip"), std::vector<std::string>{"/"});

  // The final Close of a decompress job fails: the archive was opened
  // writable, a removed member's gap puts its directory past 4 KiB, and the
  // disk takes no file beyond that.
  fixtures::RawArchive gapped;
  gapped.members = {fixtures::Member("gap", std::string(8000, 'g')),
                    fixtures::Member("note.txt", "n")};
  fixtures::WriteFile(dir / "gapped.zip", gapped.Build());
  messages.clear();
  zar = NewArchive(dir / "gapped.zip");
  ASSERT_TRUE(zar->RemoveEntry(1));
  {
    ziptest::FileSizeLimit full(4096);
    EXPECT_FALSE(Unpacked(zar, dir / "gapped"));
  }
  EXPECT_EQ(messages, std::vector<std::string>{"Writing the archive directory failed"});
  EXPECT_EQ(fixtures::ReadFile(dir / "gapped" / "note.txt"), "n");

  // A member that fails ends the job: the members after it are left alone,
  // and the folders before it keep their dates.
  messages.clear();
  EXPECT_FALSE(Unpacked(
      RawArchiveAt(
          dir / "stops.zip",
          {fixtures::Dated(fixtures::Member("d/")), fixtures::Dated(fixtures::Member("d/x", "x")),
           fixtures::Member("d/y", "y"),
           fixtures::With(fixtures::Member("bad.bin", "data"), [](auto& m) { m.crc32 = 1; }),
           fixtures::Member("after.txt", "a")}),
      dir / "stopped"));
  EXPECT_EQ(messages, std::vector<std::string>{"Extraction of \"bad.bin\" failed: " +
                                               std::string(ziptest::kDataCorrupted)});
  EXPECT_FALSE(fs::exists(dir / "stopped" / "after.txt"));
  EXPECT_EQ(fs::last_write_time(dir / "stopped" / "d"),
            fs::last_write_time(dir / "stopped" / "d" / "x"));
}
