// The control layer's event rules, each checked both ways: raised by the
// user's action and by code where the framework raises it, and not raised
// where it must not be.
#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>
#include <QWidget>

#include "platform/qt/controls.h"
#include "unitsim/hang_guard.h"

using namespace platform;

namespace {

// A shown window to put controls on, so that simulated input reaches them.
struct Host {
  QWidget window;
  Host() {
    window.resize(400, 300);
    window.show();
  }
  void Add(Control& c, int w = 200, int h = 26) { c.Place(&window, 10, 10, w, h); }
};

struct Counter {
  int count = 0;
  std::function<void()> Fn() {
    return [this] { ++count; };
  }
};

}  // namespace

TEST(PopupMenuTest, StartsAndStaysWithoutSelectionWhileRowsAreAdded) {
  PopupMenu popup("p");
  Counter changes;
  popup.Change.Bind(changes.Fn());
  popup.AddRow("a");
  popup.AddSeparator();
  popup.AddRow("b");
  EXPECT_EQ(popup.ListIndex(), -1);
  EXPECT_EQ(popup.Text(), "");
  EXPECT_EQ(popup.ListCount(), 3);
  EXPECT_EQ(popup.List(0), "a");
  EXPECT_TRUE(popup.IsSeparator(1));
  EXPECT_FALSE(popup.IsSeparator(2));
  EXPECT_EQ(changes.count, 0);
}

TEST(PopupMenuTest, SelectionByCodeRaisesChangeOnlyWhenItMoves) {
  PopupMenu popup("p");
  for (const char* row : {"a", "b", "c"}) popup.AddRow(row);
  std::vector<int> seen;
  popup.Change.Bind([&] { seen.push_back(popup.ListIndex()); });
  popup.SetListIndex(2);
  popup.SetListIndex(2);  // no move, no event
  popup.SetListIndex(-1);
  popup.SetListIndex(3);   // past the rows: refused
  popup.SetListIndex(-2);  // below -1: refused
  EXPECT_EQ(seen, (std::vector<int>{2, -1}));
  EXPECT_EQ(popup.ListIndex(), -1);
  // Adding rows to a pop-up with a selection keeps it and raises nothing.
  popup.SetListIndex(1);
  popup.AddRow("d");
  EXPECT_EQ(popup.Text(), "b");
  EXPECT_EQ(seen.size(), 3u);
}

TEST(PopupMenuTest, UsersChoiceRaisesChangeAndSkipsSeparators) {
  Host host;
  PopupMenu popup("p");
  popup.AddRow("a");
  popup.AddSeparator();
  popup.AddRow("b");
  host.Add(popup);
  std::vector<int> seen;
  popup.Change.Bind([&] { seen.push_back(popup.ListIndex()); });
  auto* combo = qobject_cast<QComboBox*>(popup.Widget());
  ASSERT_NE(combo, nullptr);
  QTest::keyClick(combo, Qt::Key_Down);
  QTest::keyClick(combo, Qt::Key_Down);  // over the separator onto "b"
  EXPECT_EQ(seen, (std::vector<int>{0, 2}));
  EXPECT_EQ(popup.Text(), "b");
}

TEST(PopupMenuTest, RowTagsAndDeleteAllRows) {
  PopupMenu popup("p");
  popup.AddRow("None");
  popup.SetRowTag(0, 0);
  popup.AddSeparator();
  popup.AddRow("RPM");
  popup.SetRowTag(2, 101);
  EXPECT_EQ(popup.RowTag(2), 101);
  EXPECT_TRUE(popup.HasRowTag(0));
  EXPECT_FALSE(popup.HasRowTag(1));  // a separator carries no code
  EXPECT_EQ(popup.RowTag(7), 0);
  popup.SetListIndex(2);
  Counter changes;
  popup.Change.Bind(changes.Fn());
  popup.DeleteAllRows();
  EXPECT_EQ(popup.ListCount(), 0);
  EXPECT_EQ(popup.ListIndex(), -1);
  EXPECT_EQ(changes.count, 0);
  // Rebuilt rows start without a selection again.
  popup.AddRow("x");
  EXPECT_EQ(popup.ListIndex(), -1);
}

TEST(EditFieldTest, TextChangeFromCodeAndFromTyping) {
  Host host;
  EditField field("f");
  host.Add(field);
  std::vector<std::string> seen;
  field.TextChange.Bind([&] { seen.push_back(field.Text()); });
  field.SetText("12");
  field.SetText("12");  // unchanged text: nothing changed, nothing raised
  auto* edit = qobject_cast<QLineEdit*>(field.Widget());
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->end(false);
  QTest::keyClick(edit, Qt::Key_3);
  EXPECT_EQ(seen, (std::vector<std::string>{"12", "123"}));
}

TEST(EditFieldTest, MaskAndLengthLimit) {
  Host host;
  EditField volts("v");
  host.Add(volts);
  volts.SetMask("#.##");
  EXPECT_EQ(volts.Text(), "");
  volts.SetText("0.45");
  EXPECT_EQ(volts.Text(), "0.45");
  auto* edit = qobject_cast<QLineEdit*>(volts.Widget());
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, "4x5y0");  // letters are refused by the mask
  EXPECT_EQ(volts.Text(), "4.50");

  EditField name("n");
  host.Add(name);
  name.SetLimitText(3);
  auto* nameEdit = qobject_cast<QLineEdit*>(name.Widget());
  nameEdit->setFocus();
  QTest::keyClicks(nameEdit, "ABCDE");
  EXPECT_EQ(name.Text(), "ABC");
}

TEST(ListBoxTest, CodeWritesRaiseNoCellActionButUserEditsDo) {
  Host host;
  ListBox list("l");
  list.SetColumnCount(2);
  list.AddRow("0\t10");
  list.AddRow("5\t20");
  list.SetColumnEditable(1, true);
  host.Add(list, 200, 120);
  std::vector<std::pair<int, int>> actions;
  list.CellAction.Bind([&](int r, int c) { actions.emplace_back(r, c); });

  list.SetCell(1, 1, "25");
  list.AddRow("1\t2");
  list.DeleteAllRows();
  list.AddRow("0\t10");
  list.AddRow("5\t20");
  EXPECT_TRUE(actions.empty());
  EXPECT_EQ(list.Cell(1, 1), "20");
  EXPECT_EQ(list.List(1), "5");

  EXPECT_FALSE(list.CellEditable(1, 0));
  EXPECT_TRUE(list.CellEditable(1, 1));  // the column's setting covers new rows
  list.EditCell(1, 1);
  auto* editor = list.Widget()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "30");
  QTest::keyClick(editor, Qt::Key_Return);  // the view commits the edit on its next turn
  ASSERT_TRUE(QTest::qWaitFor([&] { return !actions.empty(); }, unitsim::kHangGuardMs));
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0], std::make_pair(1, 1));
  EXPECT_EQ(list.Cell(1, 1), "30");
}

TEST(ListBoxTest, ChangeFollowsTheSelectionByCodeAndByClick) {
  Host host;
  ListBox list("l");
  for (const char* row : {"Main", "Layout", "COM"}) list.AddRow(row);
  host.Add(list, 200, 120);
  std::vector<int> seen;
  list.Change.Bind([&] { seen.push_back(list.ListIndex()); });
  EXPECT_EQ(list.ListIndex(), -1);
  list.SetListIndex(1);
  list.SetListIndex(1);
  auto* table = qobject_cast<QTableWidget*>(list.Widget());
  const QRect cell = table->visualItemRect(table->item(2, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  list.SetListIndex(-1);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, -1}));
  list.SetListIndex(0);
  list.DeleteAllRows();
  EXPECT_EQ(list.ListIndex(), -1);
}

TEST(ListBoxTest, HeadingAndPercentWidths) {
  Host host;
  ListBox list("l");
  list.SetColumnCount(2);
  list.SetColumnWidths("50%,50%");
  EXPECT_FALSE(list.HasHeading());
  list.SetHeading({"Volt", "Real"});
  host.Add(list, 204, 200);
  EXPECT_TRUE(list.HasHeading());
  EXPECT_EQ(list.Heading(1), "Real");
  auto* table = qobject_cast<QTableWidget*>(list.Widget());
  const int half = table->viewport()->width() / 2;
  EXPECT_EQ(list.ColumnWidth(0), half);
  EXPECT_EQ(list.ColumnWidth(1), half);
  list.SetColumnWidths("40,*");
  EXPECT_EQ(list.ColumnWidth(0), 40);
  EXPECT_EQ(list.ColumnWidth(1), table->viewport()->width() - 40);
}

TEST(CheckBoxTest, ActionOnlyOnTheUsersClick) {
  Host host;
  CheckBox box("c");
  box.SetCaption("Use Celsius For Temp");
  host.Add(box);
  Counter actions;
  box.Action.Bind(actions.Fn());
  box.SetValue(true);
  box.SetValue(false);
  EXPECT_EQ(actions.count, 0);
  QTest::mouseClick(box.Widget(), Qt::LeftButton, {}, QPoint(8, box.Height() / 2));
  EXPECT_EQ(actions.count, 1);
  EXPECT_TRUE(box.Value());
  EXPECT_EQ(box.Caption(), "Use Celsius For Temp");
}

TEST(PushButtonTest, ActionOnClickOnlyWhileEnabled) {
  Host host;
  PushButton button("b");
  button.SetCaption("R&D");
  host.Add(button);
  Counter actions;
  button.Action.Bind(actions.Fn());
  QTest::mouseClick(button.Widget(), Qt::LeftButton);
  button.SetEnabled(false);
  QTest::mouseClick(button.Widget(), Qt::LeftButton);
  EXPECT_EQ(actions.count, 1);
  EXPECT_EQ(button.Caption(), "R&D");
  EXPECT_EQ(qobject_cast<QPushButton*>(button.Widget())->text(), "R&&D");
}

TEST(SliderTest, ValueChangedFromCodeAndKeys) {
  Host host;
  Slider slider("s");
  slider.SetRange(1, 20);
  slider.SetValue(1);
  slider.SetLineStep(1);
  host.Add(slider);
  Counter changes;
  slider.ValueChanged.Bind(changes.Fn());
  slider.SetValue(5);
  slider.SetValue(5);
  slider.Widget()->setFocus();
  QTest::keyClick(slider.Widget(), Qt::Key_Right);
  EXPECT_EQ(slider.Value(), 6);
  EXPECT_EQ(changes.count, 2);
}

TEST(ProgressBarAndPagePanelTest, KeepValuesAndRefuseBadPanels) {
  ProgressBar bar("b");
  bar.SetMaximum(4);
  bar.SetValue(3);
  bar.SetMaximum(10);
  EXPECT_EQ(bar.Value(), 3);
  EXPECT_EQ(bar.Maximum(), 10);
  PagePanel pages("p", 3);
  EXPECT_EQ(pages.PanelCount(), 3);
  pages.SetValue(2);
  pages.SetValue(3);
  pages.SetValue(-1);
  EXPECT_EQ(pages.Value(), 2);
}

TEST(TimerTest, SingleFiresOnceAndOffStops) {
  Timer timer("t");
  Counter actions;
  timer.Action.Bind(actions.Fn());
  timer.SetPeriod(1);
  timer.SetMode(Timer::ModeSingle);
  ASSERT_TRUE(QTest::qWaitFor([&] { return actions.count == 1; }, unitsim::kHangGuardMs));
  EXPECT_EQ(timer.GetMode(), Timer::ModeOff);
  EXPECT_FALSE(timer.Running());
  timer.SetMode(Timer::ModeMultiple);
  ASSERT_TRUE(QTest::qWaitFor([&] { return actions.count >= 3; }, unitsim::kHangGuardMs));
  timer.SetMode(Timer::ModeOff);
  EXPECT_FALSE(timer.Running());
}

TEST(ControlTest, ControlArrayAndVisibility) {
  ControlArray<PopupMenu, 8> items("Item");
  EXPECT_EQ(items[7].Index(), 7);
  EXPECT_EQ(items[0].Name(), "Item");
  EXPECT_EQ(items[3].Widget()->objectName(), "Item(3)");
  EXPECT_THROW(items[8], std::out_of_range);
  Host host;
  PushButton hidden("h");
  hidden.SetVisible(false);
  host.Add(hidden);
  EXPECT_FALSE(hidden.Visible());
  EXPECT_TRUE(hidden.Widget()->isHidden());
}
