// The menu bar: its items, the help commands and the Edit commands on the
// focused field.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/startup.h"
#include "app/version_history_win.h"
#include "mainwindow/lcdprog.h"
#include "unitsim/hang_guard.h"

namespace {

class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }
};

struct MenuFixture : ::testing::Test {
  void SetUp() override {
    _NewAppInstance();
    _ApplicationAddMenuHandlers();
  }
  void TearDown() override { delete &App(); }
};

}  // namespace

TEST_F(MenuFixture, ItemsAndShortcuts) {
  Application& app = App();
  const QList<QAction*> menus = app.MenuBar1->actions();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text(), "File");
  EXPECT_EQ(menus[1]->text(), "Edit");
  EXPECT_EQ(menus[2]->text(), "Help");
  EXPECT_EQ(app.FileSave->text(), "Save");
  EXPECT_EQ(app.FileSave->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_EQ(app.FileLoad->text(), "Load");
  EXPECT_EQ(app.FileLoad->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_TRUE(app.FileSave->isEnabled());
  EXPECT_TRUE(app.FileLoad->isEnabled());
  EXPECT_EQ(app.FileQuit->text(), "Quit");
  EXPECT_EQ(app.HelpOnline->text(), "Online Help");
  EXPECT_EQ(app.HelpVers->text(), "Version History");
  EXPECT_EQ(app.MenuBar1->findChild<QAction*>("FileSave"), app.FileSave);
}

TEST_F(MenuFixture, SaveAndLoadRunTheWindowsLayoutFileCommands) {
  LCDProg window;
  std::vector<std::string> asked;
  window.ChooseLayoutToSave = [&](const std::string& name) {
    asked.push_back("save " + name);
    return std::string();
  };
  window.ChooseLayoutToOpen = [&](const std::string& title) {
    asked.push_back("open " + title);
    return std::string();
  };
  App().FileSave->trigger();
  App().FileLoad->trigger();
  EXPECT_EQ(asked, (std::vector<std::string>{"save Vantora Layout.lcd",
                                             "open Select an LCD layout to open"}));
  EXPECT_FALSE(App()._FileSave_Action());
  EXPECT_FALSE(App()._FileLoad_Action());
}

TEST_F(MenuFixture, OnlineHelpOpensTheHelpPage) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "Open");
  QDesktopServices::setUrlHandler("https", &catcher, "Open");
  App().HelpOnline->trigger();
  QDesktopServices::unsetUrlHandler("http");
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0], QUrl(VANTORA_HELP_URL_TEXT));
}

TEST_F(MenuFixture, VersionHistoryShowsTheBuiltInTextInItsOwnWindow) {
  QFile source(VANTORA_VERSION_HISTORY_PATH);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();
  ASSERT_FALSE(bytes.isEmpty());
  EXPECT_EQ(VersionHistoryWin::HistoryText(), bytes.toStdString());

  App().HelpVers->trigger();
  VersionHistoryWin& window = App().VersionHistory();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isWindow());
  EXPECT_EQ(window.windowTitle(), "Version History");
  EXPECT_EQ(window.TextArea()->toPlainText(), QString::fromUtf8(bytes));
  EXPECT_TRUE(window.TextArea()->isReadOnly());
  App().HelpVers->trigger();  // the same window again
  EXPECT_EQ(&App().VersionHistory(), &window);
}

TEST_F(MenuFixture, EditCommandsActOnTheFocusedField) {
  LCDProg window;
  window.setMenuBar(App().MenuBar1);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window, unitsim::kHangGuardMs));
  window.MainBox.SetListIndex(2);
  int changes = 0;
  window.rpmw.TextChange.Bind([&] { ++changes; });
  window.rpmw.SetText("7500");
  changes = 0;
  auto* edit = qobject_cast<QLineEdit*>(window.rpmw.Widget());
  edit->setFocus();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return QApplication::focusWidget() == edit; }, unitsim::kHangGuardMs));

  Application& app = App();
  QMenu* editMenu = app.EditCut->associatedObjects().isEmpty()
                        ? nullptr
                        : qobject_cast<QMenu*>(app.EditCut->associatedObjects().first());
  ASSERT_NE(editMenu, nullptr);
  emit editMenu->aboutToShow();
  EXPECT_TRUE(app.EditCut->isEnabled());
  EXPECT_TRUE(app.EditPaste->isEnabled());

  app.EditSelectAll->trigger();
  app.EditCopy->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "7500");
  app.EditCut->trigger();
  EXPECT_EQ(window.rpmw.Text(), "");
  app.EditPaste->trigger();
  EXPECT_EQ(window.rpmw.Text(), "7500");
  app.EditSelectAll->trigger();
  app.EditClear->trigger();
  EXPECT_EQ(window.rpmw.Text(), "");
  app.EditUndo->trigger();
  EXPECT_EQ(window.rpmw.Text(), "7500");
  EXPECT_EQ(changes, 4);  // a change the user makes through the menu is a text change

  // Read-only text offers copying only.
  edit->setReadOnly(true);
  emit editMenu->aboutToShow();
  EXPECT_FALSE(app.EditCut->isEnabled());
  EXPECT_TRUE(app.EditCopy->isEnabled());
  window.setMenuBar(nullptr);
}

#include "menus_test.moc"
