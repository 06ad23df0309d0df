#include "app/app.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextEdit>
#include <QUrl>
#include <stdexcept>

#include "app/version_history_win.h"
#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "mainwindow/site_config.h"
#include "platform/item_at.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/trash.h"
#include "unit/conversions.h"
#include "update/program_place.h"

namespace {

Application* theApp = nullptr;

const char* const kOldCopyTrashed =
    "Your Old Copy Of The Vantora II Software Has Been Moved To The Trash. Don't Forget To Empty "
    "The Trash Before Your Next Update.";

QAction* AddItem(QMenu* menu, const char* name, const char* text,
                 const QKeySequence& shortcut = {}) {
  QAction* action = menu->addAction(text);
  action->setObjectName(name);
  action->setShortcut(shortcut);
  return action;
}

// The standard text-editing commands go to whichever text field has focus.
bool IsText(QWidget* w) {
  return qobject_cast<QLineEdit*>(w) != nullptr || qobject_cast<QTextEdit*>(w) != nullptr ||
         qobject_cast<QPlainTextEdit*>(w) != nullptr;
}

bool IsReadOnly(QWidget* w) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) return line->isReadOnly();
  if (auto* text = qobject_cast<QTextEdit*>(w)) return text->isReadOnly();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) return plain->isReadOnly();
  return true;
}

void ClearSelection(QWidget* w) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) {
    if (line->hasSelectedText()) line->del();
  } else if (auto* text = qobject_cast<QTextEdit*>(w)) {
    text->textCursor().removeSelectedText();
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    plain->textCursor().removeSelectedText();
  }
}

}  // namespace

Application& App() {
  if (theApp == nullptr) throw std::logic_error("App() used before _NewAppInstance");
  return *theApp;
}

bool AppExists() {
  return theApp != nullptr;
}

Application::Application() {
  theApp = this;
  const update::ProgramPlace place =
      update::LocateProgram(QCoreApplication::applicationDirPath().toStdString());
  ProgramFolder = place.Folder;
  RunningCopy = place.Running;
  Trash = platform::HomeTrash();
  StartCopy = [](const std::filesystem::path& executable, const std::filesystem::path& folder) {
    QProcess::startDetached(QString::fromStdString(executable.string()), {},
                            QString::fromStdString(folder.string()));
  };
  BuildMenuBar();
}

Application::~Application() {
  // The menu bar belongs to the window that shows it; a bar never shown is ours.
  if (MenuBar1 != nullptr && MenuBar1->parent() == nullptr) delete MenuBar1.data();
  delete versionHistory_;
  if (LCDProg* window = LCDProg::Current(); window != nullptr) {
    if (window->PortWatch == TheThread.get()) window->PortWatch = nullptr;
    window->HandOver = nullptr;
  }
  if (theApp == this) theApp = nullptr;
}

void Application::BuildMenuBar() {
  MenuBar1 = new QMenuBar;
  MenuBar1->setObjectName("MenuBar1");
  QMenu* file = MenuBar1->addMenu("File");
  FileSave = AddItem(file, "FileSave", "Save", QKeySequence(Qt::CTRL | Qt::Key_S));
  FileLoad = AddItem(file, "FileLoad", "Load", QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  FileQuit = AddItem(file, "FileQuit", "Quit", QKeySequence(Qt::CTRL | Qt::Key_Q));
  FileQuit->setMenuRole(QAction::QuitRole);
  connect(FileQuit, &QAction::triggered, this, [this] { _FileQuit_Action(); });

  QMenu* edit = MenuBar1->addMenu("Edit");
  EditUndo = AddItem(edit, "EditUndo", "Undo", QKeySequence::Undo);
  edit->addSeparator();
  EditCut = AddItem(edit, "EditCut", "Cut", QKeySequence::Cut);
  EditCopy = AddItem(edit, "EditCopy", "Copy", QKeySequence::Copy);
  EditPaste = AddItem(edit, "EditPaste", "Paste", QKeySequence::Paste);
  EditClear = AddItem(edit, "EditClear", "Clear");
  edit->addSeparator();
  EditSelectAll = AddItem(edit, "EditSelectAll", "Select All", QKeySequence::SelectAll);
  BindEditMenu(edit);

  QMenu* help = MenuBar1->addMenu("Help");
  HelpOnline = AddItem(help, "HelpOnline", "Online Help");
  HelpVers = AddItem(help, "HelpVers", "Version History");
}

// The framework handles the Edit menu itself: each command acts on the
// focused text field, and the items are enabled only where they can act.
void Application::BindEditMenu(QMenu* edit) {
  const auto on = [this](QAction* action, const char* slot) {
    connect(action, &QAction::triggered, this, [slot] {
      QWidget* focus = QApplication::focusWidget();
      if (IsText(focus)) QMetaObject::invokeMethod(focus, slot);
    });
  };
  on(EditUndo, "undo");
  on(EditCut, "cut");
  on(EditCopy, "copy");
  on(EditPaste, "paste");
  on(EditSelectAll, "selectAll");
  connect(EditClear, &QAction::triggered, this, [] {
    QWidget* focus = QApplication::focusWidget();
    if (IsText(focus) && !IsReadOnly(focus)) ClearSelection(focus);
  });
  connect(edit, &QMenu::aboutToShow, this, [this] {
    QWidget* focus = QApplication::focusWidget();
    const bool text = IsText(focus);
    const bool writable = text && !IsReadOnly(focus);
    EditUndo->setEnabled(writable);
    EditCut->setEnabled(writable);
    EditPaste->setEnabled(writable);
    EditClear->setEnabled(writable);
    EditCopy->setEnabled(text);
    EditSelectAll->setEnabled(text);
  });
}

void Application::Event_Open() {
  // The watch exists before anything can give the window's timers a turn (the
  // message below runs modally), since the window reads its port count.
  LCDProg* window = LCDProg::Current();
  if (window != nullptr && TheThread == nullptr) {
    TheThread = std::make_unique<BGThread>(window->Sline);
    window->AttachPortWatch(TheThread.get());
  }
  if (window != nullptr) {
    window->ProgramFolder = ProgramFolder;
    window->RunningCopy = RunningCopy;
    window->Trash = Trash;
    // Wherever the new copy is ready (in a dialog, or while starting), this
    // copy goes and the new one starts.
    window->HandOver = [this](const std::filesystem::path& newCopy) {
      LaunchNew = newCopy;
      QuitNow();
    };
  }
  // The program's folder is opened once; the old copy is looked at and
  // moved there. The message claims the move, so it is shown only when the
  // move worked.
  int error = 0;
  const platform::OpenFolderRef folder = platform::OpenFolder::Open(
      AT_FDCWD, ProgramFolder.empty() ? "." : ProgramFolder.c_str(), 0, error);
  if (folder && update::TrashOldCopy(folder->fd(), {ProgramFolder, {}, RunningCopy}, Trash) ==
                    update::OldCopy::Trashed) {
    platform::MsgBox(kOldCopyTrashed);
  }
  if (TheThread != nullptr) TheThread->Run();
}

void Application::Event_Close() {
  // The preference hook runs at every quit, whatever it keeps.
  Spec::SavePrefs();
  if (LaunchNew.empty()) return;
  if (!QFileInfo::exists(QString::fromStdString(LaunchNew.string()))) return;
  // The new copy looks for the unit as it starts. A port this copy still held
  // would be busy then, and nothing would make the new copy try it again.
  if (LCDProg* window = LCDProg::Current()) window->Sline.Disconnect();
  // A bundle starts as its executable, never as a folder in a file manager.
  const QFileInfo info(QString::fromStdString(update::ExecutableOf(LaunchNew).string()));
  if (info.isFile() && info.isExecutable()) {
    StartCopy(info.absoluteFilePath().toStdString(), LaunchNew.parent_path());
  } else if (info.isFile()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
  }
}

void Application::DoEvents(int milliseconds) {
  QCoreApplication::processEvents(QEventLoop::AllEvents, milliseconds < 0 ? 0 : milliseconds);
}

int Application::RunEventLoop() {
  return quitRequested_ ? 0 : QApplication::exec();
}

void Application::QuitNow() {
  quitRequested_ = true;
  // The port watch must not reopen the link while the program goes.
  Spec::Quitting = true;
  QApplication::closeAllWindows();
  // Ends the event loop and every loop nested in it, a dialog's or a wait's,
  // and keeps any opened later from running; unlike the framework's quit it
  // does so while the program starts too, before the event loop has run.
  QCoreApplication::exit(0);
}

bool Application::_FileSave_Action() {
  if (LCDProg* window = LCDProg::Current()) window->SaveFile();
  return false;
}

bool Application::_FileLoad_Action() {
  if (LCDProg* window = LCDProg::Current()) window->LoadFile();
  return false;
}

bool Application::_FileQuit_Action() {
  // The main window's close ends the program; a window that refuses to close
  // keeps it running.
  QApplication::closeAllWindows();
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible()) return true;
  }
  QCoreApplication::quit();
  return true;
}

bool Application::_HelpOnline_Action() {
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(site::kHelpUrl)));
  return true;
}

bool Application::_HelpVers_Action() {
  VersionHistoryWin& window = VersionHistory();
  window.show();
  window.raise();
  window.activateWindow();
  return true;
}

VersionHistoryWin& Application::VersionHistory() {
  if (versionHistory_ == nullptr) versionHistory_ = new VersionHistoryWin;
  return *versionHistory_;
}
