// Start-up runs its steps in order, and the program ends when its window
// closes.
#include <gtest/gtest.h>
#include <QAction>
#include <QMenuBar>
#include <QTimer>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/startup.h"
#include "link/module_globals.h"
#include "mainwindow/files.h"
#include "mainwindow/lcdprog.h"

TEST(StartupTest, StepsRunInOrderAndTheWindowsCloseEndsTheLoop) {
  std::vector<std::string> steps;
  bool watchStarted = false;
  bool menuShown = false;
  const int result = RunApplication([&](const char* step) {
    steps.push_back(step);
    const std::string name = step;
    if (name == "_InitFileTypes") {
      EXPECT_NE(Files::Named("Calibration"), nullptr);
      EXPECT_FALSE(AppExists());
    } else if (name == "_NewAppInstance") {
      ASSERT_TRUE(AppExists());
      EXPECT_NE(App().MenuBar1, nullptr);
    } else if (name == "_MakeDefaultView") {
      LCDProg* window = LCDProg::Current();
      ASSERT_NE(window, nullptr);
      menuShown = window->menuBar() == App().MenuBar1;
      EXPECT_TRUE(window->isVisible());
      EXPECT_EQ(App().TheThread, nullptr);
      // The user closes the main window as soon as the loop runs.
      QTimer::singleShot(0, window, [window] { window->close(); });
    } else if (name == "App.Event_Open") {
      // The port watch runs on the window's link before the loop gives the
      // window's timers their first turn.
      LCDProg* window = LCDProg::Current();
      ASSERT_NE(App().TheThread, nullptr);
      // The watch refreshes the window's port list when the ports change.
      watchStarted = App().TheThread->IsRunning() && window->PortWatch == App().TheThread.get() &&
                     App().TheThread->ListPorts != nullptr;
    } else if (name == "App.Event_Close") {
      EXPECT_TRUE(AppExists());
    }
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(steps, (std::vector<std::string>{"_InitFileTypes", "_NewAppInstance",
                                             "_ApplicationAddMenuHandlers", "_MakeDefaultView",
                                             "App.Event_Open", "EventLoop", "App.Event_Close"}));
  EXPECT_TRUE(watchStarted);
  EXPECT_TRUE(menuShown);
  // Start-up's objects go with the program.
  EXPECT_FALSE(AppExists());
  EXPECT_EQ(LCDProg::Current(), nullptr);
}

TEST(FilesTest, CalibrationIsRegisteredWithItsCodes) {
  _InitFileTypes();
  const platform::FileType& type = Files::Calibration();
  EXPECT_EQ(type.Name, "Calibration");
  EXPECT_EQ(type.Extension, ".lcd");
  EXPECT_EQ(type.MacType, "lcdc");
  EXPECT_EQ(type.MacCreator, "Vnta");
  EXPECT_EQ(type.DialogFilter(), "Calibration (*.lcd)");
  EXPECT_EQ(Files::All().size(), 1u);
  EXPECT_EQ(Files::Named("Text"), nullptr);
}

TEST(StartupTest, FileQuitEndsTheProgramAndThePortWatch) {
  Spec::Quitting = false;
  std::vector<std::string> steps;
  RunApplication([&](const char* step) {
    steps.push_back(step);
    if (std::string(step) == "_MakeDefaultView") {
      QTimer::singleShot(0, &App(), [] { App().FileQuit->trigger(); });
    }
  });
  EXPECT_EQ(steps.back(), "App.Event_Close");
  EXPECT_TRUE(Spec::Quitting);
  Spec::Quitting = false;
}
