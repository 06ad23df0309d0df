// The window as designed: every control's name, kind, page, caption, rows and
// the state it shows once open (the open handlers have chosen first rows and
// built the place lists of the first system), checked against one table.
#include <gtest/gtest.h>
#include <QWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "editor/catalogue.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/serial_ports.h"

using namespace platform;

namespace {

constexpr int W = -1;      // the window itself, outside the page panel
constexpr int kNone = -2;  // "no selection" is not checked for this kind

struct Design {
  const char* name;
  int index;  // place in a control array, -1 for a lone control
  const char* kind;
  int panel;                      // page panel 0..5, or W
  const char* caption;            // caption, text, or the label beside an edit field
  const char* box;                // caption of the group box it sits in, "" for none
  std::vector<std::string> rows;  // pop-up rows, or list rows with TAB between cells
  int listIndex;                  // initial selection, kNone when not applicable
};

const std::vector<std::string> kSevenPages = {"1", "2", "3", "4", "5", "6", "7"};
const std::vector<std::string> kZeroRows(15, "0\t0");

// A place's rows as shown: the first system's catalogue, separators blank.
std::vector<std::string> PlaceTexts(int place) {
  std::vector<std::string> texts;
  for (const editor::MenuRow& row : editor::PlaceRows(0, place)) texts.push_back(row.text);
  return texts;
}

// The port list as its open handler fills it with nothing remembered:
// "None", then the system's ports.
std::vector<std::string> PortRows() {
  std::vector<std::string> rows{"None"};
  for (const platform::SerialPortEntry& e : platform::SerialPorts()) rows.push_back(e.Name);
  return rows;
}

const std::vector<Design>& Table() {
  static const std::vector<Design> table = {
      {"MainBox",
       -1,
       "ListBox",
       W,
       "",
       "",
       {"Main", "Layout", "Settings", "Sensors", "Sensors 2", "COM"},
       0},
      {"Pages", -1, "PagePanel", W, "", "", {}, kNone},
      {"ConButton", -1, "PushButton", W, "Connect", "", {}, kNone},
      {"ReadBut", -1, "PushButton", W, "Read", "", {}, kNone},
      {"WriteBut", -1, "PushButton", W, "Program", "", {}, kNone},
      {"stat", -1, "StaticText", W, "Status: Disconnected", "", {}, kNone},
      // Main
      {"maps",
       -1,
       "PopupMenu",
       0,
       "",
       "Map Sensor:",
       {"Stock", "Motorola 2.5 Bar", "Motec 3 Bar", "MSD 3 Bar", "Neetronics 2 Bar",
        "Neetronics 2.5 Bar", "Neetronics 3 Bar", "AEM 3.5 Bar", "AEM 5 Bar", "Omnipower 4 Bar",
        "Motorola 3 Bar", "Motorola 4 Bar", "GM 1 Bar", "GM 3 Bar"},
       0},
      {"vact", -1, "PopupMenu", 0, "", "Vacuum Units:", {"mBar", "inHG", "kPa", "PSI"}, 0},
      {"prest", -1, "PopupMenu", 0, "", "Pressure Units:", {"mBar", "PSI", "kPa", "Bar"}, 0},
      {"ltps", -1, "EditField", 0, "Closed:", "", {"0.45"}, kNone},
      {"utps", -1, "EditField", 0, "WOT:", "", {"4.50"}, kNone},
      {"WList", -1, "ListBox", 0, "Input:", "Wideband:", {"0\t10", "5\t20"}, -1},
      {"afrlist",
       -1,
       "PopupMenu",
       0,
       "",
       "Wideband:",
       {"O2 Input", "ELD Input", "EGR Lift Input", "B6 Input"},
       0},
      {"usecelsius", -1, "CheckBox", 0, "Use Celsius For Temp", "Options", {}, kNone},
      {"usekph", -1, "CheckBox", 0, "Use KPH For Speed", "Options", {}, kNone},
      {"progstyle", -1, "CheckBox", 0, "Square Progress Bars", "Options", {}, kNone},
      {"demon", -1, "CheckBox", 0, "Using Demon", "Options", {}, kNone},
      // Layout
      {"Sys",
       -1,
       "PopupMenu",
       1,
       "",
       "System:",
       {"NepTune RTP", "NepTune", "eCtune", "s300", "Crome", "K-Pro", "GM $8D", "GM $59",
        "Ford GUFB (Moates QuarterHorse)", "GM $0D", "NEMU V5", "AEM"},
       0},
      {"Page", -1, "PopupMenu", 1, "", "Edit Page:", kSevenPages, 0},
      {"StPage", -1, "PopupMenu", 1, "", "LCD Start Page:", kSevenPages, 0},
      {"Item", 0, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(0), 0},
      {"Item", 1, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(1), 0},
      {"Item", 2, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(2), 0},
      {"Item", 3, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(3), 0},
      {"Item", 4, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(4), 0},
      {"Item", 5, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(5), 0},
      {"Item", 6, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(6), 0},
      {"Item", 7, "PopupMenu", 1, "", "Page Layout:", PlaceTexts(7), 0},
      {"Preview", -1, "CheckBox", 1, "Preview Layout", "", {}, kNone},
      // Settings
      {"rpmw", -1, "EditField", 2, "RPM:", "Warnings", {""}, kNone},
      {"mapw", -1, "EditField", 2, "MAP:", "Warnings", {""}, kNone},
      {"ectw", -1, "EditField", 2, "ECT:", "Warnings", {""}, kNone},
      {"iatw", -1, "EditField", 2, "IAT:", "Warnings", {""}, kNone},
      {"mappop", -1, "PopupMenu", 2, "", "Warnings", {"mBar", "PSI"}, 0},
      // Sensors
      {"gbox1", -1, "GroupBox", 3, "O2 Input", "", {}, kNone},
      {"gbox2", -1, "GroupBox", 3, "ELD Input", "", {}, kNone},
      {"gbox3", -1, "GroupBox", 3, "EGR Lift Input", "", {}, kNone},
      {"gbox4", -1, "GroupBox", 3, "B6 Input", "", {}, kNone},
      {"O2List", -1, "ListBox", 3, "", "O2 Input", kZeroRows, -1},
      {"ELDList", -1, "ListBox", 3, "", "ELD Input", kZeroRows, -1},
      {"EGRList", -1, "ListBox", 3, "", "EGR Lift Input", kZeroRows, -1},
      {"B6List", -1, "ListBox", 3, "", "B6 Input", kZeroRows, -1},
      {"s1name", -1, "EditField", 3, "Name:", "O2 Input", {""}, kNone},
      {"s2name", -1, "EditField", 3, "Name:", "ELD Input", {""}, kNone},
      {"s3name", -1, "EditField", 3, "Name:", "EGR Lift Input", {""}, kNone},
      {"s4name", -1, "EditField", 3, "Name:", "B6 Input", {""}, kNone},
      {"S1Dec", -1, "CheckBox", 3, "Show Decimals", "O2 Input", {}, kNone},
      {"S2Dec", -1, "CheckBox", 3, "Show Decimals", "ELD Input", {}, kNone},
      {"S3Dec", -1, "CheckBox", 3, "Show Decimals", "EGR Lift Input", {}, kNone},
      {"S4Dec", -1, "CheckBox", 3, "Show Decimals", "B6 Input", {}, kNone},
      // Sensors 2
      {"an1list", -1, "ListBox", 4, "", "AN1", kZeroRows, -1},
      {"an2list", -1, "ListBox", 4, "", "AN2", kZeroRows, -1},
      {"an3list", -1, "ListBox", 4, "", "AN3", kZeroRows, -1},
      {"an4list", -1, "ListBox", 4, "", "AN4", kZeroRows, -1},
      {"an5list", -1, "ListBox", 4, "", "AN5", kZeroRows, -1},
      {"an1n", -1, "EditField", 4, "Name:", "AN1", {""}, kNone},
      {"an2n", -1, "EditField", 4, "Name:", "AN2", {""}, kNone},
      {"an3n", -1, "EditField", 4, "Name:", "AN3", {""}, kNone},
      {"an4n", -1, "EditField", 4, "Name:", "AN4", {""}, kNone},
      {"an5n", -1, "EditField", 4, "Name:", "AN5", {""}, kNone},
      {"AN1Dec", -1, "CheckBox", 4, "Show Decimals", "AN1", {}, kNone},
      {"AN2Dec", -1, "CheckBox", 4, "Show Decimals", "AN2", {}, kNone},
      {"AN3Dec", -1, "CheckBox", 4, "Show Decimals", "AN3", {}, kNone},
      {"AN4Dec", -1, "CheckBox", 4, "Show Decimals", "AN4", {}, kNone},
      {"An5Dec", -1, "CheckBox", 4, "Show Decimals", "AN5", {}, kNone},
      // COM
      {"port", -1, "PopupMenu", 5, "", "Port:", PortRows(), -1},
      {"DLSlider", -1, "Slider", 5, "", "Datalogging Speed:", {}, kNone},
      {"FWProg", -1, "ProgressBar", 5, "", "Firmware", {}, kNone},
      {"FWUpdate", -1, "PushButton", 5, "Update Firmware", "Firmware", {}, kNone},
      {"LeftC", -1, "PushButton", 5, "<", "", {}, kNone},
      {"RightC", -1, "PushButton", 5, ">", "", {}, kNone},
      {"UpC", -1, "PushButton", 5, "/\\", "", {}, kNone},
      {"DownC", -1, "PushButton", 5, "\\/", "", {}, kNone},
      {"EnterC", -1, "PushButton", 5, "E", "", {}, kNone},
      {"PRGBut", -1, "PushButton", 5, "Program", "", {}, kNone},
      {"ExitBut", -1, "PushButton", 5, "Exit", "", {}, kNone},
  };
  return table;
}

int PanelOf(const LCDProg& w, const Control& c) {
  for (int i = 0; i < w.Pages.PanelCount(); ++i) {
    if (c.Widget()->parentWidget() == w.Pages.Panel(i)) return i;
  }
  return W;
}

// The caption of the group box that frames the control on its page.
std::string BoxAround(const LCDProg& w, const Control& c) {
  const QRect rect = c.Widget()->geometry();
  for (const Control* other : w.Controls()) {
    if (other == &c || std::string(other->Kind()) != "GroupBox") continue;
    if (other->Widget()->parentWidget() != c.Widget()->parentWidget()) continue;
    if (other->Widget()->geometry().contains(rect)) {
      return static_cast<const GroupBox*>(other)->Caption();
    }
  }
  return "";
}

// The caption of a control: its own, or the label standing just left of it.
std::string CaptionOf(const LCDProg& w, const Control& c) {
  if (auto* b = dynamic_cast<const PushButton*>(&c)) return b->Caption();
  if (auto* b = dynamic_cast<const CheckBox*>(&c)) return b->Caption();
  if (auto* g = dynamic_cast<const GroupBox*>(&c)) return g->Caption();
  if (auto* t = dynamic_cast<const StaticText*>(&c)) return t->Text();
  const QRect rect = c.Widget()->geometry();
  for (const Control* other : w.Controls()) {
    auto* label = dynamic_cast<const StaticText*>(other);
    if (label == nullptr || other->Widget()->parentWidget() != c.Widget()->parentWidget()) continue;
    const QRect l = other->Widget()->geometry();
    if (l.right() < rect.left() && rect.left() - l.right() < 16 && l.bottom() > rect.top() &&
        l.top() < rect.bottom()) {
      return label->Text();
    }
  }
  return "";
}

std::vector<std::string> RowsOf(const Control& c) {
  std::vector<std::string> rows;
  if (auto* p = dynamic_cast<const PopupMenu*>(&c)) {
    for (int i = 0; i < p->ListCount(); ++i) rows.push_back(p->List(i));
  } else if (auto* l = dynamic_cast<const ListBox*>(&c)) {
    for (int i = 0; i < l->ListCount(); ++i) {
      std::string row;
      for (int col = 0; col < l->ColumnCount(); ++col) row += (col ? "\t" : "") + l->Cell(i, col);
      rows.push_back(row);
    }
  } else if (auto* e = dynamic_cast<const EditField*>(&c)) {
    rows.push_back(e->Text());
  }
  return rows;
}

int ListIndexOf(const Control& c) {
  if (auto* p = dynamic_cast<const PopupMenu*>(&c)) return p->ListIndex();
  if (auto* l = dynamic_cast<const ListBox*>(&c)) return l->ListIndex();
  return kNone;
}

}  // namespace

TEST(LCDProgDesignTest, EveryControlAsDesigned) {
  LCDProg w;
  for (const Design& d : Table()) {
    SCOPED_TRACE(std::string(d.name) + (d.index >= 0 ? "(" + std::to_string(d.index) + ")" : ""));
    Control* c = w.FindControl(d.name, d.index);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->Kind(), d.kind);
    EXPECT_EQ(PanelOf(w, *c), d.panel);
    EXPECT_EQ(CaptionOf(w, *c), d.caption);
    EXPECT_EQ(BoxAround(w, *c), d.box);
    EXPECT_EQ(RowsOf(*c), d.rows);
    EXPECT_EQ(ListIndexOf(*c), d.listIndex);
    const bool hidden = std::string(d.name) == "PRGBut" || std::string(d.name) == "ExitBut";
    EXPECT_EQ(c->Visible(), !hidden);
    EXPECT_TRUE(c->Enabled());
  }
  // Nothing named in the window is missing from the table.
  for (const Control* c : w.Controls()) {
    if (dynamic_cast<const StaticText*>(c) != nullptr && c->Name() != "stat") continue;
    if (dynamic_cast<const GroupBox*>(c) != nullptr && c->Name().rfind("gbox", 0) != 0) continue;
    const bool listed = std::any_of(Table().begin(), Table().end(), [&](const Design& d) {
      return c->Name() == d.name && c->Index() == d.index;
    });
    EXPECT_TRUE(listed) << c->Name();
  }
}

TEST(LCDProgDesignTest, DetailsBeyondTheTable) {
  LCDProg w;
  for (int k = 0; k < 8; ++k) {
    // Window coordinates of each place of the page layout.
    const QPoint at =
        w.Item[k].Widget()->mapTo(&w, QPoint(0, 0)) - w.centralWidget()->mapTo(&w, QPoint(0, 0));
    EXPECT_EQ(at, QPoint(136 + 260 * (k % 2), 144 + 32 * (k / 2))) << k;
    EXPECT_EQ(w.Item[k].Width(), 175);
    EXPECT_EQ(w.Item[k].Height(), 20);
    EXPECT_EQ(w.Item[k].Index(), k);
  }
  EXPECT_EQ(w.ltps.Mask(), "#.##");
  EXPECT_EQ(w.utps.Mask(), "#.##");
  for (EditField* f : {&w.rpmw, &w.mapw, &w.ectw, &w.iatw}) {
    EXPECT_EQ(f->Mask(), "");
    EXPECT_EQ(f->LimitText(), 0);
  }
  for (EditField* f :
       {&w.s1name, &w.s2name, &w.s3name, &w.s4name, &w.an1n, &w.an2n, &w.an3n, &w.an4n, &w.an5n}) {
    EXPECT_EQ(f->LimitText(), 3);
  }
  for (ListBox* l : {&w.O2List, &w.ELDList, &w.EGRList, &w.B6List, &w.an1list, &w.an2list,
                     &w.an3list, &w.an4list, &w.an5list}) {
    EXPECT_EQ(l->ColumnCount(), 2);
    EXPECT_EQ(l->ColumnWidths(), "50%,50%");
    EXPECT_TRUE(l->HasHeading());
    EXPECT_EQ(l->Heading(0), "Volt");
    EXPECT_EQ(l->Heading(1), "Real");
  }
  EXPECT_EQ(w.WList.ColumnWidths(), "50%,50%");
  EXPECT_FALSE(w.WList.HasHeading());
  EXPECT_EQ(w.MainBox.ColumnCount(), 1);
  EXPECT_FALSE(w.MainBox.HasHeading());
  EXPECT_EQ(w.Pages.PanelCount(), 6);
  EXPECT_EQ(w.DLSlider.Minimum(), 1);
  EXPECT_EQ(w.DLSlider.Maximum(), 20);
  EXPECT_EQ(w.DLSlider.Value(), 1);
  EXPECT_EQ(w.DLSlider.LineStep(), 1);
  EXPECT_EQ(w.DLSlider.PageStep(), 1);
  EXPECT_TRUE(w.DLSlider.LiveScroll());
  EXPECT_EQ(w.FWProg.Value(), 0);
  EXPECT_EQ(w.FWProg.Maximum(), 100);
  for (CheckBox* b : {&w.usecelsius, &w.usekph, &w.progstyle, &w.demon, &w.Preview, &w.S1Dec,
                      &w.AN1Dec, &w.An5Dec}) {
    EXPECT_FALSE(b->Value());
  }
  auto note = dynamic_cast<StaticText*>(w.FindControl("SensorsNote"));
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->Text(),
            "Note:\rVoltages can be setup one of two ways.\r\rStandard, where low voltage means a "
            "low value:\r\r0v  0\r5v  100\r\rOr reversed, where low voltage means a high "
            "value:\r\r5v  0\r0v  100\r\rPlease keep in mind that the real world value must "
            "always be in ascending order, lower value first.");
  EXPECT_EQ(BoxAround(w, *note), "");
  auto warn = dynamic_cast<StaticText*>(w.FindControl("WarningsNote"));
  ASSERT_NE(warn, nullptr);
  EXPECT_EQ(warn->Text(),
            "The LCD screen will flash if the vehicle exceeds any of these thresholds");
  auto dl = dynamic_cast<StaticText*>(w.FindControl("DLNote"));
  ASSERT_NE(dl, nullptr);
  EXPECT_EQ(dl->Text(), "Note: This is how fast the display updates.");
  EXPECT_EQ(BoxAround(w, *dl), "Datalogging Speed:");
}

TEST(LCDProgDesignTest, PropertiesStartEmpty) {
  LCDProg w;
  EXPECT_TRUE(std::all_of(w.Opt.begin(), w.Opt.end(), [](int v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(w.Opt2.begin(), w.Opt2.end(), [](int v) { return v == 0; }));
  EXPECT_EQ(w.Opt.size(), 57u);
  EXPECT_EQ(w.Sensors.size(), 19u);
  EXPECT_EQ(w.Sensors[18].size(), 16u);
  for (const auto& row : w.Sensors) {
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](double v) { return v == 0.0; }));
  }
  EXPECT_FALSE(w.Ignore || w.Programming || w.Upgrading || w.DirectCheck || w.DownloadUpdate);
  EXPECT_EQ(w.Timer1.Period(), 30);
  EXPECT_EQ(w.Timer1.GetMode(), Timer::ModeMultiple);
  EXPECT_EQ(w.Timer2.Period(), 500);
  EXPECT_EQ(w.Timer2.GetMode(), Timer::ModeMultiple);
}

TEST(LCDProgTest, PageOpensBeforeSysAndMainBoxSwitchesPages) {
  LCDProg w;
  const auto& order = w.Controls();
  const auto page = std::find(order.begin(), order.end(), &w.Page);
  const auto sys = std::find(order.begin(), order.end(), &w.Sys);
  ASSERT_NE(page, order.end());
  ASSERT_NE(sys, order.end());
  EXPECT_LT(page, sys);

  EXPECT_EQ(w.MainBox.ListIndex(), 0);
  EXPECT_EQ(w.Pages.Value(), 0);
  for (int row : {5, 3, 1, 4, 2, 0}) {
    w.MainBox.SetListIndex(row);
    EXPECT_EQ(w.Pages.Value(), row);
  }
  w.MainBox.SetListIndex(2);
  w.MainBox.SetListIndex(-1);  // no row: the page shown stays
  EXPECT_EQ(w.Pages.Value(), 2);
  // The bottom bar stays in view on every page.
  EXPECT_EQ(w.ConButton.Widget()->parentWidget(), w.centralWidget());
}
