// The calibration tables on the real window: which cells the user may edit,
// and the range check of the user's edits (and of nothing else).
#include <gtest/gtest.h>
#include <QLineEdit>
#include <QTest>

#include "mainwindow/lcdprog.h"
#include "unitsim/hang_guard.h"

namespace {

struct Window {
  LCDProg w;
  Window() {
    w.Timer1.SetMode(platform::Timer::ModeOff);
    w.show();
  }
  // Types `text` into a cell as the user does and waits for the edit to land.
  void Type(platform::ListBox& list, int page, int row, int column, const std::string& text) {
    w.MainBox.SetListIndex(page);
    // A code write raises nothing; the user's edit replaces this mark, and the
    // check runs in the same turn as that write.
    const std::string mark = "#mark#";
    list.SetCell(row, column, mark);
    list.EditCell(row, column);
    auto* editor = list.Widget()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    if (text.empty()) {
      QTest::keyClick(editor, Qt::Key_Delete);
    } else {
      QTest::keyClicks(editor, QString::fromStdString(text));
    }
    QTest::keyClick(editor, Qt::Key_Return);
    // The view commits the edit on its next turn.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return list.Cell(row, column) != mark; }, unitsim::kHangGuardMs));
  }
};

TEST(CalibrationTables, EditableCells) {
  Window t;
  LCDProg& w = t.w;
  for (int row = 0; row < 2; ++row) {
    EXPECT_TRUE(w.WList.CellEditable(row, 0));
    EXPECT_TRUE(w.WList.CellEditable(row, 1));
  }
  for (platform::ListBox* l : {&w.O2List, &w.ELDList, &w.EGRList, &w.B6List, &w.an1list, &w.an2list,
                               &w.an3list, &w.an4list, &w.an5list}) {
    ASSERT_EQ(l->ListCount(), 15);
    for (int row = 0; row < 15; ++row) {
      EXPECT_TRUE(l->CellEditable(row, 0)) << l->Name() << row;
      EXPECT_TRUE(l->CellEditable(row, 1)) << l->Name() << row;
    }
  }
}

TEST(CalibrationTables, UserEditsAreKeptInRange) {
  Window t;
  LCDProg& w = t.w;
  struct Case {
    platform::ListBox* list;
    int page;
    int column;
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {&w.O2List, 3, 0, "5", "5"},
      {&w.O2List, 3, 0, "5.01", "5"},
      {&w.ELDList, 3, 0, "-0.1", "0"},
      {&w.B6List, 3, 0, "2.347", "2.347"},
      {&w.an3list, 4, 0, "12volts", "5"},
      {&w.an5list, 4, 0, "abc", "abc"},
      {&w.O2List, 3, 0, "", ""},
      {&w.EGRList, 3, 1, "3200", "3200"},
      {&w.EGRList, 3, 1, "3200.5", "3200"},
      {&w.an1list, 4, 1, "10000", "3200"},
      {&w.B6List, 3, 1, "-1", "0"},
      {&w.WList, 0, 1, "25.5", "25.5"},
      {&w.WList, 0, 1, "25.6", "25.5"},
      {&w.WList, 0, 1, "30", "25.5"},
      {&w.WList, 0, 1, "-3", "0"},
      {&w.WList, 0, 0, "7", "5"},
  };
  for (const Case& c : cases) {
    t.Type(*c.list, c.page, 1, c.column, c.typed);
    EXPECT_EQ(c.list->Cell(1, c.column), c.kept) << c.list->Name() << " typed " << c.typed;
  }
}

TEST(CalibrationTables, WritesByCodeAreNotChecked) {
  Window t;
  LCDProg& w = t.w;
  w.O2List.SetCell(2, 1, "99999");
  w.WList.SetCell(1, 0, "9");
  EXPECT_EQ(w.O2List.Cell(2, 1), "99999");
  EXPECT_EQ(w.WList.Cell(1, 0), "9");
  // Rows may fall as well as rise; nothing is sorted.
  t.Type(w.O2List, 3, 0, 0, "4.5");
  t.Type(w.O2List, 3, 1, 0, "0.5");
  EXPECT_EQ(w.O2List.Cell(0, 0), "4.5");
  EXPECT_EQ(w.O2List.Cell(1, 0), "0.5");
}

}  // namespace
