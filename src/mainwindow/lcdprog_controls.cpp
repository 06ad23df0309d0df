// The window's controls with their design values, page by page. Positions
// are window coordinates; the page panel sits to the right of MainBox.
#include <QWidget>
#include <utility>

#include "editor/catalogue.h"
#include "mainwindow/lcdprog.h"

namespace {
constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 552;
constexpr int kPagesLeft = 120;
constexpr int kPagesTop = 0;
constexpr int kPagesWidth = kWindowWidth - kPagesLeft;
constexpr int kPagesHeight = 500;

enum Panel {
  kWindow = -1,
  kMain = 0,
  kLayout = 1,
  kSettings = 2,
  kSensors = 3,
  kSensors2 = 4,
  kCom = 5
};

const char* const kSensorNote =
    "Note:\rVoltages can be setup one of two ways.\r\rStandard, where low voltage means a low "
    "value:\r\r0v  0\r5v  100\r\rOr reversed, where low voltage means a high value:\r\r5v  0\r0v  "
    "100\r\rPlease keep in mind that the real world value must always be in ascending order, "
    "lower value first.";

// Two columns of half the width each, headed "Volt" and "Real", 15 rows of 0.
void SensorTable(platform::ListBox& list) {
  list.SetColumnCount(2);
  list.SetColumnWidths("50%,50%");
  list.SetHeading({"Volt", "Real"});
  for (int row = 0; row < 15; ++row) list.AddRow("0\t0");
}

void Rows(platform::PopupMenu& popup, std::initializer_list<const char*> rows) {
  for (const char* row : rows) popup.AddRow(row);
}
}  // namespace

void LCDProg::PutControl(platform::Control& control, int panel, int left, int top, int width,
                         int height) {
  if (panel == kWindow) {
    control.Place(central_, left, top, width, height);
  } else {
    control.Place(Pages.Panel(panel), left - kPagesLeft, top - kPagesTop, width, height);
  }
  created_.push_back(&control);
}

// Captions and notes have no handlers; the window keeps them only to own them.
template <class C>
C& LCDProg::Decoration(const std::string& name, int panel, int left, int top, int width,
                       int height) {
  auto owned = std::make_unique<C>(name);
  C& control = *owned;
  decorations_.push_back(std::move(owned));
  return Put(control, panel, left, top, width, height);
}

platform::StaticText& LCDProg::Label(const std::string& name, int panel, const std::string& text,
                                     int left, int top, int width, int height) {
  auto& label = Decoration<platform::StaticText>(name, panel, left, top, width, height);
  label.SetText(text);
  return label;
}

platform::GroupBox& LCDProg::Box(const std::string& name, int panel, const std::string& caption,
                                 int left, int top, int width, int height) {
  auto& box = Decoration<platform::GroupBox>(name, panel, left, top, width, height);
  box.SetCaption(caption);
  return box;
}

void LCDProg::CreateControls() {
  central_ = new QWidget(this);
  central_->setObjectName("LCDProgContent");
  central_->setFixedSize(kWindowWidth, kWindowHeight);
  setCentralWidget(central_);

  MainBox.SetColumnCount(1);
  MainBox.SetHeading({});
  for (const char* row : {"Main", "Layout", "Settings", "Sensors", "Sensors 2", "COM"}) {
    MainBox.AddRow(row);
  }
  Put(MainBox, kWindow, 8, 8, 104, 118);
  Put(Pages, kWindow, kPagesLeft, kPagesTop, kPagesWidth, kPagesHeight);
  Pages.SetValue(0);

  CreateMainPage();
  CreateLayoutPage();
  CreateSettingsPage();
  CreateSensorsPage();
  CreateSensors2Page();
  CreateComPage();
  CreateBottomBar();

  Timer1.SetPeriod(30);
  Timer1.SetMode(platform::Timer::ModeMultiple);
  Timer2.SetPeriod(500);
  Timer2.SetMode(platform::Timer::ModeMultiple);
}

void LCDProg::CreateMainPage() {
  Box("mapsBox", kMain, "Map Sensor:", 136, 8, 250, 58);
  Rows(maps, {"Stock", "Motorola 2.5 Bar", "Motec 3 Bar", "MSD 3 Bar", "Neetronics 2 Bar",
              "Neetronics 2.5 Bar", "Neetronics 3 Bar", "AEM 3.5 Bar", "AEM 5 Bar",
              "Omnipower 4 Bar", "Motorola 3 Bar", "Motorola 4 Bar", "GM 1 Bar", "GM 3 Bar"});
  Put(maps, kMain, 148, 30, 226, 26);

  Box("vactBox", kMain, "Vacuum Units:", 136, 74, 120, 58);
  Rows(vact, {"mBar", "inHG", "kPa", "PSI"});
  Put(vact, kMain, 148, 96, 96, 26);
  Box("prestBox", kMain, "Pressure Units:", 266, 74, 120, 58);
  Rows(prest, {"mBar", "PSI", "kPa", "Bar"});
  Put(prest, kMain, 278, 96, 96, 26);

  Label("ltpsLabel", kMain, "Closed:", 136, 148, 54, 20);
  ltps.SetMask("#.##");
  ltps.SetText("0.45");
  Put(ltps, kMain, 192, 144, 60, 26);
  Label("utpsLabel", kMain, "WOT:", 266, 148, 40, 20);
  utps.SetMask("#.##");
  utps.SetText("4.50");
  Put(utps, kMain, 308, 144, 60, 26);

  Box("WidebandBox", kMain, "Wideband:", 400, 8, 250, 124);
  afrlist.AddRow("O2 Input");
  Put(afrlist, kMain, 412, 30, 226, 26);
  Label("WListLabel", kMain, "Input:", 412, 68, 44, 20);
  WList.SetColumnCount(2);
  WList.SetColumnWidths("50%,50%");
  WList.SetHeading({});
  WList.AddRow("0\t10");
  WList.AddRow("5\t20");
  Put(WList, kMain, 460, 64, 178, 42);

  Box("OptionsBox", kMain, "Options", 136, 184, 250, 126);
  int top = 206;
  for (auto [box, caption] :
       {std::pair{&usecelsius, "Use Celsius For Temp"}, std::pair{&usekph, "Use KPH For Speed"},
        std::pair{&progstyle, "Square Progress Bars"}, std::pair{&demon, "Using Demon"}}) {
    Put(*box, kMain, 148, top, 226, 22).SetCaption(caption);
    top += 24;
  }
}

void LCDProg::CreateLayoutPage() {
  // `Page` is created (and so opened) before `Sys`.
  Box("PageBox", kLayout, "Edit Page:", 396, 8, 110, 58);
  Rows(Page, {"1", "2", "3", "4", "5", "6", "7"});
  Put(Page, kLayout, 408, 30, 86, 26);

  Box("SysBox", kLayout, "System:", 136, 8, 250, 58);
  // The catalogue numbers its systems by these rows.
  for (const char* name : editor::SystemNames()) Sys.AddRow(name);
  Put(Sys, kLayout, 148, 30, 226, 26);

  Box("StPageBox", kLayout, "LCD Start Page:", 516, 8, 120, 58);
  Rows(StPage, {"1", "2", "3", "4", "5", "6", "7"});
  Put(StPage, kLayout, 528, 30, 96, 26);

  Box("LayoutBox", kLayout, "Page Layout:", 124, 116, 460, 160);
  for (int k = 0; k < 8; ++k) {
    Put(Item[k], kLayout, 136 + 260 * (k % 2), 144 + 32 * (k / 2), 175, 20);
  }

  Put(Preview, kLayout, 136, 288, 200, 22).SetCaption("Preview Layout");
}

void LCDProg::CreateSettingsPage() {
  Box("WarningsBox", kSettings, "Warnings", 136, 8, 300, 196);
  struct Warning {
    platform::EditField& field;
    const char* label;
  };
  const Warning warnings[] = {{rpmw, "RPM:"}, {mapw, "MAP:"}, {ectw, "ECT:"}, {iatw, "IAT:"}};
  int top = 32;
  for (const Warning& w : warnings) {
    Label(w.field.Name() + "Label", kSettings, w.label, 148, top + 4, 44, 20);
    Put(w.field, kSettings, 196, top, 100, 26);
    if (&w.field == &mapw) {
      Rows(mappop, {"mBar", "PSI"});
      mappop.SetListIndex(0);
      Put(mappop, kSettings, 304, top, 80, 26);
    }
    top += 30;
  }
  Label("WarningsNote", kSettings,
        "The LCD screen will flash if the vehicle exceeds any of these thresholds", 148, 156, 276,
        40);
}

// One sensor input in its group box: the table, the name field and the
// decimals box, laid out alike on both sensor pages.
void LCDProg::SensorGroup(int panel, int left, int width, platform::ListBox& list,
                          platform::EditField& name, platform::CheckBox& decimals) {
  SensorTable(list);
  Put(list, panel, left + 6, 30, width - 12, 298);
  Label(name.Name() + "Label", panel, "Name:", left + 6, 338, 44, 20);
  name.SetLimitText(3);
  Put(name, panel, left + 52, 334, 58, 26);
  Put(decimals, panel, left + 6, 364, width - 10, 22).SetCaption("Show Decimals");
}

void LCDProg::CreateSensorsPage() {
  struct Sensor {
    platform::GroupBox& box;
    const char* caption;
    platform::ListBox& list;
    platform::EditField& name;
    platform::CheckBox& decimals;
  };
  const Sensor sensors[] = {{gbox1, "O2 Input", O2List, s1name, S1Dec},
                            {gbox2, "ELD Input", ELDList, s2name, S2Dec},
                            {gbox3, "EGR Lift Input", EGRList, s3name, S3Dec},
                            {gbox4, "B6 Input", B6List, s4name, S4Dec}};
  int left = 128;
  for (const Sensor& s : sensors) {
    Put(s.box, kSensors, left, 8, 122, 386).SetCaption(s.caption);
    SensorGroup(kSensors, left, 122, s.list, s.name, s.decimals);
    left += 128;
  }
  Label("SensorsNote", kSensors, kSensorNote, 644, 12, 144, 380);
}

void LCDProg::CreateSensors2Page() {
  struct Input {
    const char* caption;
    platform::ListBox& list;
    platform::EditField& name;
    platform::CheckBox& decimals;
  };
  const Input inputs[] = {{"AN1", an1list, an1n, AN1Dec},
                          {"AN2", an2list, an2n, AN2Dec},
                          {"AN3", an3list, an3n, AN3Dec},
                          {"AN4", an4list, an4n, AN4Dec},
                          {"AN5", an5list, an5n, An5Dec}};
  int left = 128;
  for (const Input& in : inputs) {
    Box(std::string(in.caption) + "Box", kSensors2, in.caption, left, 8, 128, 386);
    SensorGroup(kSensors2, left, 128, in.list, in.name, in.decimals);
    left += 132;
  }
}

void LCDProg::CreateComPage() {
  Box("portBox", kCom, "Port:", 136, 8, 250, 58);
  Put(port, kCom, 148, 30, 226, 26);

  Box("DLBox", kCom, "Datalogging Speed:", 136, 74, 250, 92);
  DLSlider.SetRange(1, 20);
  DLSlider.SetValue(1);
  DLSlider.SetLineStep(1);
  DLSlider.SetPageStep(1);
  DLSlider.SetLiveScroll(true);
  Put(DLSlider, kCom, 148, 96, 226, 24);
  Label("DLNote", kCom, "Note: This is how fast the display updates.", 148, 124, 226, 36);

  Box("FirmwareBox", kCom, "Firmware", 136, 174, 250, 92);
  FWProg.SetMaximum(100);
  FWProg.SetValue(0);
  Put(FWProg, kCom, 148, 198, 226, 18);
  Put(FWUpdate, kCom, 148, 226, 150, 30).SetCaption("Update Firmware");

  struct Key {
    platform::PushButton& button;
    const char* caption;
    int left;
    int top;
  };
  for (const Key& key :
       {Key{LeftC, "<", 426, 64}, Key{RightC, ">", 514, 64}, Key{UpC, "/\\", 470, 30},
        Key{DownC, "\\/", 470, 98}, Key{EnterC, "E", 470, 64}}) {
    Put(key.button, kCom, key.left, key.top, 40, 30).SetCaption(key.caption);
  }

  // The bootloader's buttons stay hidden until the unit is in its bootloader.
  PRGBut.SetVisible(false);
  Put(PRGBut, kCom, 426, 150, 80, 30).SetCaption("Program");
  ExitBut.SetVisible(false);
  Put(ExitBut, kCom, 514, 150, 80, 30).SetCaption("Exit");
}

void LCDProg::CreateBottomBar() {
  Put(ConButton, kWindow, 8, 512, 104, 30).SetCaption("Connect");
  Put(ReadBut, kWindow, 120, 512, 80, 30).SetCaption("Read");
  Put(WriteBut, kWindow, 208, 512, 90, 30).SetCaption("Program");
  Put(stat, kWindow, 312, 518, 300, 22).SetText("Status: Disconnected");
}
