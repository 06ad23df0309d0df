// The application's open and close events: the old copy goes to the Trash,
// the new copy is launched at quit.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/folder_item.h"
#include "platform/item_at.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/serial_ports.h"
#include "platform/qt/trash.h"
#include "platform/ticks.h"
#include "unitsim/await.h"
#include "unitsim/hang_guard.h"
#include "unitsim/unit_sim.h"
#include "update/program_place.h"

namespace fs = std::filesystem;

namespace {

const char* const kMessage =
    "Your Old Copy Of The Vantora II Software Has Been Moved To The Trash. Don't Forget To Empty "
    "The Trash Before Your Next Update.";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An application object whose program folder and Trash are temporary.
struct AppFixture : ::testing::Test {
  QTemporaryDir dir;
  fs::path program;
  fs::path trash;
  std::unique_ptr<Application> app;
  std::vector<std::string> messages;
  platform::MsgBoxSink previous;

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    program = fs::path(dir.path().toStdString()) / "Programs";
    trash = fs::path(dir.path().toStdString()) / "Trash";
    fs::create_directories(program);
    app = std::make_unique<Application>();
    app->ProgramFolder = program;
    app->Trash = trash;
    previous = platform::SetMsgBoxSink([this](const std::string& m) { messages.push_back(m); });
  }
  void TearDown() override { platform::SetMsgBoxSink(previous); }

  void MakeOldCopy(const std::string& content) {
    fs::create_directories(program / "OLD Vantora II X.app" / "Contents");
    std::ofstream(program / "OLD Vantora II X.app" / "Contents" / "binary") << content;
  }
};

}  // namespace

TEST_F(AppFixture, OldCopyGoesToTheTrashWithItsRecordAndTheMessage) {
  MakeOldCopy("first");
  ASSERT_TRUE(platform::FolderItem(program / "OLD Vantora II X.app").SetVisible(false));
  app->Event_Open();
  EXPECT_FALSE(fs::exists(program / "OLD Vantora II X.app"));
  EXPECT_FALSE(fs::exists(program / "._OLD Vantora II X.app"));
  EXPECT_FALSE(platform::FolderItem(trash / "files" / "OLD Vantora II X.app").Visible());
  EXPECT_EQ(ReadAll(trash / "files" / "OLD Vantora II X.app" / "Contents" / "binary"), "first");
  const std::string info = ReadAll(trash / "info" / "OLD Vantora II X.app.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
  EXPECT_NE(info.find("/Programs/OLD%20Vantora%20II%20X.app\n"), std::string::npos) << info;
  EXPECT_NE(info.find("\nDeletionDate="), std::string::npos);
  EXPECT_EQ(messages, std::vector<std::string>{kMessage});

  // A second old copy does not overwrite the first one in the Trash.
  MakeOldCopy("second");
  app->Event_Open();
  EXPECT_EQ(ReadAll(trash / "files" / "OLD Vantora II X.app" / "Contents" / "binary"), "first");
  EXPECT_EQ(ReadAll(trash / "files" / "OLD Vantora II X.app.2" / "Contents" / "binary"), "second");
  EXPECT_TRUE(fs::exists(trash / "info" / "OLD Vantora II X.app.2.trashinfo"));
  EXPECT_EQ(messages.size(), 2u);
}

TEST_F(AppFixture, NoOldCopyNoMessage) {
  std::ofstream(program / "Vantora II X.app") << "current";
  app->Event_Open();
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(fs::exists(program / "Vantora II X.app"));
  EXPECT_FALSE(fs::exists(trash));
  // The update's install takes a free name as free, and goes on.
  int error = 0;
  const auto folder = platform::OpenFolder::Open(AT_FDCWD, program.c_str(), 0, error);
  ASSERT_TRUE(folder);
  EXPECT_EQ(update::TrashOldCopy(folder->fd(), {program, {}}, trash), update::OldCopy::None);
}

TEST_F(AppFixture, TheRunningCopyStaysEvenWhenItIsTheOldOne) {
  MakeOldCopy("running");
  // Known as it was when the program started from it.
  app->RunningCopy = update::LocateProgram(program / "." / "OLD Vantora II X.app").Running;
  app->Event_Open();
  EXPECT_EQ(ReadAll(program / "OLD Vantora II X.app" / "Contents" / "binary"), "running");
  EXPECT_TRUE(messages.empty());
}

// Only the program's own old bundle goes: anything at its name that is no
// real folder is not the program's, stays as it is, and no message claims a
// move.
TEST_F(AppFixture, WhatIsNoRealFolderAtTheOldNameStays) {
  const fs::path old = program / "OLD Vantora II X.app";
  const fs::path elsewhere = program.parent_path() / "elsewhere";
  const struct {
    const char* what;
    std::function<void()> setUp;
  } cases[] = {
      {"a link to a folder", [&] { fs::create_directory_symlink(elsewhere, old); }},
      {"a link to nothing", [&] { fs::create_symlink("missing", old); }},
      {"a file", [&] { std::ofstream(old) << "the user's"; }},
  };
  fs::create_directories(elsewhere / "Contents");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(old);
    c.setUp();
    const int before = static_cast<int>(fs::symlink_status(old).type());
    app->Event_Open();
    EXPECT_EQ(static_cast<int>(fs::symlink_status(old).type()), before);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(fs::exists(trash));
  }
  EXPECT_TRUE(fs::exists(elsewhere / "Contents"));
}

TEST_F(AppFixture, AFailedMoveIsNotReportedAsDone) {
  MakeOldCopy("kept");
  // A Trash that cannot be made: its place is taken by a file.
  std::ofstream(trash) << "not a folder";
  app->Event_Open();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(ReadAll(program / "OLD Vantora II X.app" / "Contents" / "binary"), "kept");
  std::string error;
  EXPECT_FALSE(platform::MoveToTrash(program / "OLD Vantora II X.app", trash, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(platform::MoveToTrash(program / "missing", program / "T", &error));
  EXPECT_FALSE(fs::exists(program / "T" / "info" / "missing.trashinfo"));
}

TEST_F(AppFixture, CloseLaunchesTheNewCopyOnlyWhenItExists) {
  const fs::path marker = program / "launched";
  const fs::path script = program / "Vantora II X";
  std::ofstream(script) << "#!/bin/sh\ntouch \"" << marker.string() << "\"\n";
  fs::permissions(script, fs::perms::owner_all);

  app->LaunchNew = program / "absent";
  app->Event_Close();
  app->LaunchNew.clear();
  app->Event_Close();
  EXPECT_FALSE(fs::exists(marker));

  app->LaunchNew = script;
  app->Event_Close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(marker); }, unitsim::kHangGuardMs));

  // A bundle is started as the executable inside it.
  const fs::path bundle = program / "Vantora II X.app";
  fs::create_directories(bundle);
  std::ofstream(bundle / "vantora2") << "#!/bin/sh\ntouch \"" << marker.string() << ".2\"\n";
  fs::permissions(bundle / "vantora2", fs::perms::owner_all);
  app->LaunchNew = bundle;
  app->Event_Close();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return fs::exists(marker.string() + ".2"); }, unitsim::kHangGuardMs));
}

namespace {

// The application with a main window whose link talks to the simulated unit.
struct LinkedAppFixture : AppFixture {
  unitsim::UnitSim unit;
  platform::ManualTicks clock;

  void SetUp() override {
    AppFixture::SetUp();
    ASSERT_TRUE(unit.Ok()) << unit.Error();
    platform::SetTickSource(&clock);
    platform::SetPublishedPortDir("/nonexistent/vantora-ports");
    platform::AddExtraSerialPort("ttySim", unit.PortPath());
    Spec::DataPort = "ttySim";
  }
  void TearDown() override {
    platform::ClearExtraSerialPorts();
    platform::SetTickSource(nullptr);
    Spec::DataPort.clear();
    AppFixture::TearDown();
  }
};

}  // namespace

// The new copy looks for the unit as soon as it starts, so the port must be
// free by then: the old copy's link lets it go before the launch.
TEST_F(LinkedAppFixture, TheNewCopyStartsOnceTheLinkHasLetGoOfThePort) {
  LCDProg window;
  window.Sline.Connect();
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return window.Sline.isConnected; }));

  const fs::path bundle = program / "Vantora II X.app";
  fs::create_directories(bundle);
  std::ofstream(bundle / "vantora2") << "#!/bin/sh\n";
  fs::permissions(bundle / "vantora2", fs::perms::owner_all);
  std::vector<fs::path> started;
  bool portHeld = true;
  bool portFree = false;
  app->StartCopy = [&](const fs::path& executable, const fs::path& folder) {
    started = {executable, folder};
    portHeld = window.Sline.Opened;
    QSerialPort other;
    portFree = platform::OpenSerialPort(other, unit.PortPath(), 9600);
  };
  app->LaunchNew = bundle;
  app->Event_Close();
  EXPECT_EQ(started, (std::vector<fs::path>{bundle / "vantora2", program}));
  EXPECT_FALSE(portHeld);
  EXPECT_TRUE(portFree);
}

TEST_F(AppFixture, HomeTrashFollowsXdgDataHome) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", "/somewhere/data");
  EXPECT_EQ(platform::HomeTrash(), fs::path("/somewhere/data/Trash"));
  qunsetenv("XDG_DATA_HOME");
  EXPECT_EQ(platform::HomeTrash().filename(), "Trash");
  EXPECT_EQ(platform::HomeTrash().parent_path().filename(), "share");
  if (!saved.isNull()) qputenv("XDG_DATA_HOME", saved);
}

TEST_F(AppFixture, DoEventsRunsWaitingEvents) {
  bool ran = false;
  QMetaObject::invokeMethod(
      app.get(), [&] { ran = true; }, Qt::QueuedConnection);
  Application::DoEvents(-1);
  EXPECT_TRUE(ran);
}

// Even where the hand-over comes in the start-up message, before the event
// loop runs, the program ends and the new copy starts: the child quits and
// launches for real.
TEST_F(AppFixture, TheHandOverEndsTheProgramBeforeItsEventLoopRuns) {
  MakeOldCopy("old");
  const fs::path bundle = program / "Vantora II X.app";
  fs::create_directories(bundle);
  std::ofstream(bundle / "vantora2") << "#!/bin/sh\necho \"$PWD\" > started\n";
  fs::permissions(bundle / "vantora2", fs::perms::owner_all);
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const fs::path data = program.parent_path() / "data";
  env.insert("XDG_DATA_HOME", QString::fromStdString(data.string()));
  child.setProcessEnvironment(env);
  child.start(VANTORA_HANDOVER_CHILD, {QString::fromStdString(program.string())});
  const bool ended = child.waitForFinished(unitsim::kHangGuardMs);
  if (!ended) child.kill();
  child.waitForFinished();
  ASSERT_TRUE(ended) << "the program stayed after the hand-over";
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_EQ(child.readAllStandardOutput(), "handed over in QMessageBox\n");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return ReadAll(program / "started") == program.string() + "\n"; },
                      unitsim::kHangGuardMs));
  EXPECT_TRUE(fs::exists(data / "Trash" / "files" / "OLD Vantora II X.app"));
}
