#pragma once
// The application object: the menu bar and its handlers, the start and end of
// the program's life, and the copy of the program to launch when it quits.
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "link/bg_thread.h"
#include "platform/item_at.h"

class QAction;
class QMenu;

class VersionHistoryWin;

class Application : public QObject {
  Q_OBJECT

 public:
  Application();
  ~Application() override;

  // The background port watch on the main window's link, created and started
  // by Event_Open; null before.
  std::unique_ptr<BGThread> TheThread;
  // The copy of the program to launch at quit; empty for none.
  std::filesystem::path LaunchNew;
  // Starts `executable` as a program of its own in `folder`, not waiting for
  // it. Set at creation; tests capture it.
  std::function<void(const std::filesystem::path& executable, const std::filesystem::path& folder)>
      StartCopy;
  // The folder that holds the program's bundle (or the executable, when it
  // runs from no bundle), the bundle it runs from as ProgramPlace::Running
  // knows it, and the desktop's Trash. Set at creation; tests point them at
  // temporary folders.
  std::filesystem::path ProgramFolder;
  std::optional<platform::ItemId> RunningCopy = platform::ItemId{};
  std::filesystem::path Trash;

  // The menu bar, built with the application; the main window shows it.
  QPointer<QMenuBar> MenuBar1;
  QAction* FileSave = nullptr;
  QAction* FileLoad = nullptr;
  QAction* FileQuit = nullptr;
  QAction* EditUndo = nullptr;
  QAction* EditCut = nullptr;
  QAction* EditCopy = nullptr;
  QAction* EditPaste = nullptr;
  QAction* EditClear = nullptr;
  QAction* EditSelectAll = nullptr;
  QAction* HelpOnline = nullptr;
  QAction* HelpVers = nullptr;

  // Runs as the program starts, once the main window exists and before its
  // timers first run: an old copy left beside the program by an update goes to
  // the Trash (never the copy that is running), then the port watch starts on
  // the window's link. The window learns where the program lives and how to
  // hand over to a new copy (LaunchNew, then QuitNow).
  void Event_Open();
  // Runs as the program ends: launches LaunchNew when it is set and exists;
  // a bundle is launched by running the executable inside it. The main
  // window's link lets go of its port first.
  void Event_Close();
  // One pass of the event loop, taking at most `milliseconds` (-1: no waiting).
  static void DoEvents(int milliseconds);
  // The framework's event loop, until the program quits; returns its result.
  // It does not start at all once QuitNow has been asked for.
  int RunEventLoop();
  // Ends the program from wherever it is: in the event loop, in a modal
  // dialog opened from it, or in one opened while the program starts, before
  // the event loop runs. The windows close, every event loop that runs ends
  // (no dialog can hold it up), the event loop never starts if it has not
  // yet, and start-up goes on to Event_Close as at any quit.
  void QuitNow();

  // Menu handlers; each returns whether it handled the command.
  // File > Save and File > Load: the main window's SaveFile and LoadFile.
  // They return false, leaving the command to anyone else who handles it.
  bool _FileSave_Action();
  bool _FileLoad_Action();
  bool _FileQuit_Action();
  bool _HelpOnline_Action();
  bool _HelpVers_Action();

  // The version history's window, created on first use.
  VersionHistoryWin& VersionHistory();

 private:
  void BuildMenuBar();
  void BindEditMenu(QMenu* edit);

  VersionHistoryWin* versionHistory_ = nullptr;
  bool quitRequested_ = false;
};

// The one application object; throws std::logic_error before _NewAppInstance.
Application& App();
// Whether _NewAppInstance has run.
bool AppExists();
