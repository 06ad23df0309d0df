// The yes/no dialog: the default button follows the second argument, and the
// answer is the button the user pressed.
#include <gtest/gtest.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "mainwindow/confirm_win.h"

namespace {
// Acts on the dialog once it runs modally.
bool Answer(const std::string& message, int defaultButton,
            const std::function<void(ConfirmDialog&)>& user) {
  QTimer::singleShot(0, [user] {
    auto* dialog = qobject_cast<ConfirmDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    user(*dialog);
  });
  return ConfirmWin().Confirm(message, defaultButton);
}

void PressReturn(ConfirmDialog& d) {
  QTest::keyClick(&d, Qt::Key_Return);
}
}  // namespace

TEST(ConfirmWinTest, ReturnTakesTheDefaultButton) {
  EXPECT_FALSE(Answer("Download?", 0, [](ConfirmDialog& d) {
    EXPECT_TRUE(d.NoButton()->isDefault());
    EXPECT_FALSE(d.YesButton()->isDefault());
    PressReturn(d);
  }));
  EXPECT_TRUE(Answer("Download?", 1, [](ConfirmDialog& d) {
    EXPECT_TRUE(d.YesButton()->isDefault());
    EXPECT_FALSE(d.NoButton()->isDefault());
    PressReturn(d);
  }));
}

TEST(ConfirmWinTest, TheAnswerIsTheButtonPressed) {
  EXPECT_TRUE(Answer("Update?\rNow.", 0, [](ConfirmDialog& d) {
    EXPECT_EQ(d.Message()->toPlainText(), "Update?\nNow.");
    EXPECT_TRUE(d.Message()->isReadOnly());
    QTest::mouseClick(d.YesButton(), Qt::LeftButton);
  }));
  EXPECT_FALSE(Answer("Update?", 1,
                      [](ConfirmDialog& d) { QTest::mouseClick(d.NoButton(), Qt::LeftButton); }));
  EXPECT_EQ(&ConfirmWin(), &ConfirmWin());
}

TEST(ConfirmWinTest, ASinkAnswersInsteadOfTheUser) {
  std::string asked;
  ConfirmSink previous = SetConfirmSink([&](const std::string& m, int d) {
    asked = m;
    return d == 1;
  });
  EXPECT_TRUE(ConfirmWin().Confirm("Q", 1));
  EXPECT_FALSE(ConfirmWin().Confirm("Q2", 0));
  EXPECT_EQ(asked, "Q2");
  SetConfirmSink(previous);
}
