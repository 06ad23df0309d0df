#pragma once
// The main window: the list of pages on the left, the six pages, the bottom
// bar, the serial link and its timers. The window is the hub of the program:
// it owns the controls (public, under their own names, so every subsystem's
// handlers reach them as `maps`, `Sys`, `Item[k]`, `O2List`, ...) and the
// settings properties `Opt`, `Opt2`, `Sensors`.
//
// Handlers are methods named <control>_<event>. Each subsystem declares its
// own in its section below, defines them in its lcdprog_*.cpp files and binds
// them in its Bind... method, called from the constructor before the controls
// open.
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/layout_file.h"
#include "link/super_serial.h"
#include "platform/item_at.h"
#include "platform/qt/controls.h"
#include "platform/qt/http_socket.h"
#include "unit/reply_decode.h"
#include "unit/write_sequence.h"

class BGThread;
namespace unit {
enum class KeypadKey;
}

class LCDProg : public QMainWindow {
  Q_OBJECT

 public:
  explicit LCDProg(QWidget* parent = nullptr);
  ~LCDProg() override;

  // The main window of the program (the latest one created), or nullptr.
  static LCDProg* Current();

  // Every control in creation order; its Open event was raised in this order.
  const std::vector<platform::Control*>& Controls() const { return created_; }
  // A control by name (and index, for a control array); nullptr when none.
  platform::Control* FindControl(const std::string& name, int index = -1) const;

  // ----- Left list and page panel -----
  platform::ListBox MainBox{"MainBox"};
  platform::PagePanel Pages{"Pages", 6};

  // ----- Bottom bar -----
  platform::PushButton ConButton{"ConButton"};
  platform::PushButton ReadBut{"ReadBut"};
  platform::PushButton WriteBut{"WriteBut"};
  platform::StaticText stat{"stat"};

  // ----- Page "Main" -----
  platform::PopupMenu maps{"maps"};
  platform::PopupMenu vact{"vact"};
  platform::PopupMenu prest{"prest"};
  platform::EditField ltps{"ltps"};
  platform::EditField utps{"utps"};
  platform::ListBox WList{"WList"};
  platform::PopupMenu afrlist{"afrlist"};
  platform::CheckBox usecelsius{"usecelsius"};
  platform::CheckBox usekph{"usekph"};
  platform::CheckBox progstyle{"progstyle"};
  platform::CheckBox demon{"demon"};

  // ----- Page "Layout" -----
  platform::PopupMenu Page{"Page"};
  platform::PopupMenu Sys{"Sys"};
  platform::PopupMenu StPage{"StPage"};
  platform::ControlArray<platform::PopupMenu, 8> Item{"Item"};
  platform::CheckBox Preview{"Preview"};

  // ----- Page "Settings" -----
  platform::EditField rpmw{"rpmw"};
  platform::EditField mapw{"mapw"};
  platform::EditField ectw{"ectw"};
  platform::EditField iatw{"iatw"};
  platform::PopupMenu mappop{"mappop"};

  // ----- Page "Sensors" -----
  platform::GroupBox gbox1{"gbox1"};
  platform::GroupBox gbox2{"gbox2"};
  platform::GroupBox gbox3{"gbox3"};
  platform::GroupBox gbox4{"gbox4"};
  platform::ListBox O2List{"O2List"};
  platform::ListBox ELDList{"ELDList"};
  platform::ListBox EGRList{"EGRList"};
  platform::ListBox B6List{"B6List"};
  platform::EditField s1name{"s1name"};
  platform::EditField s2name{"s2name"};
  platform::EditField s3name{"s3name"};
  platform::EditField s4name{"s4name"};
  platform::CheckBox S1Dec{"S1Dec"};
  platform::CheckBox S2Dec{"S2Dec"};
  platform::CheckBox S3Dec{"S3Dec"};
  platform::CheckBox S4Dec{"S4Dec"};

  // ----- Page "Sensors 2" -----
  platform::ListBox an1list{"an1list"};
  platform::ListBox an2list{"an2list"};
  platform::ListBox an3list{"an3list"};
  platform::ListBox an4list{"an4list"};
  platform::ListBox an5list{"an5list"};
  platform::EditField an1n{"an1n"};
  platform::EditField an2n{"an2n"};
  platform::EditField an3n{"an3n"};
  platform::EditField an4n{"an4n"};
  platform::EditField an5n{"an5n"};
  platform::CheckBox AN1Dec{"AN1Dec"};
  platform::CheckBox AN2Dec{"AN2Dec"};
  platform::CheckBox AN3Dec{"AN3Dec"};
  platform::CheckBox AN4Dec{"AN4Dec"};
  platform::CheckBox An5Dec{"An5Dec"};

  // ----- Page "COM" -----
  platform::PopupMenu port{"port"};
  platform::Slider DLSlider{"DLSlider"};
  platform::ProgressBar FWProg{"FWProg"};
  platform::PushButton FWUpdate{"FWUpdate"};
  platform::PushButton LeftC{"LeftC"};
  platform::PushButton RightC{"RightC"};
  platform::PushButton UpC{"UpC"};
  platform::PushButton DownC{"DownC"};
  platform::PushButton EnterC{"EnterC"};
  platform::PushButton PRGBut{"PRGBut"};
  platform::PushButton ExitBut{"ExitBut"};

  // ----- Workers -----
  // The serial link to the unit. Its line is 8 data bits, no parity, 1 stop
  // bit, no flow control; Event_Open sets the rate.
  SuperSerial Sline;
  // The application's port watch (App.TheThread) on Sline, set when the
  // application starts it; null before.
  BGThread* PortWatch = nullptr;
  // Timer1 pumps the link every 30 ms; Timer2 runs every 500 ms.
  platform::Timer Timer1{"Timer1"};
  platform::Timer Timer2{"Timer2"};
  // The HTTP control of the version check and the update's download.
  platform::HTTPSocket VersSocket{"VersSocket"};

  // ----- Properties -----
  // Item code per page and place: element page * 8 + place + 1 (1 to 56).
  std::array<std::int32_t, 57> Opt{};
  // The item codes last known to be on the unit, indexed like Opt.
  std::array<std::int32_t, 57> Opt2{};
  // Calibration values last read, [1..18][1..15]; index 0 stays unused.
  std::array<std::array<double, 16>, 19> Sensors{};
  bool Ignore = false;
  bool Programming = false;
  bool Upgrading = false;
  bool DirectCheck = false;
  bool DownloadUpdate = false;

  // ----- Window events -----
  // Runs once the controls have opened: the link's rate, then the version check.
  void Event_Open();
  // Asked before the window closes; `appQuitting` tells that the program is
  // quitting. Returns true to keep the window open.
  bool CancelClose(bool appQuitting);

  // ----- The link's pump -----
  // Delivers waiting input, then sends the next queued request. The only
  // place that moves requests to the unit.
  void Timer1_Action();

  // ----- Page switching -----
  void MainBox_Open();
  void MainBox_Change();

  // ===== Settings exchange (src/unit) =====
  // Binds the handlers below; called from the constructor.
  void BindSettingsExchange();
  // Queues the thirteen reads of a full settings read; checks nothing.
  void ReadSettings();
  // Queues "ra" alone, so the limits are shown again in the unit now chosen.
  void ReadLimits();
  // Queues the full write of what the controls hold, in one pass. Nothing
  // while the link is down or the unit sits in its bootloader, and nothing
  // (the user is told why) until a full read has come back whole.
  void WriteSettings();
  // Every reply the link accepted: completion of a write, the bootloader's
  // acknowledgements, the hello, and every read reply shown in the controls.
  void Sline_PacketSucceeded(PacketRef p);
  // The link dropped its queue or closed: a write underway did not finish.
  void SettingsWriteBroken();
  // The link dropped its queue or closed while reads were pending.
  void SettingsReadBroken();

  // The list, name field and "Show Decimals" box of one sensor table.
  struct SensorTableControls {
    platform::ListBox* List;
    platform::EditField* Name;
    platform::CheckBox* Decimals;
  };
  std::array<SensorTableControls, 4> MainSensorTables();  // O2, ELD, EGR, B6
  std::array<SensorTableControls, 5> AnSensorTables();    // AN1 to AN5
  // What the controls hold, numbers read with Val, as the write sends it.
  unit::WindowSettings SettingsSnapshot();
  // Requests of the write underway that the unit has not acknowledged yet.
  std::vector<PacketRef> UnackedWrites;
  // Reads whose replies the controls still wait for: full reads and the
  // limits' refresh. Only reads queued on an open port: the pump throws away
  // the others unsent.
  std::vector<PacketRef> PendingReads;
  // A full read has come back whole since the link last connected. Until
  // then the controls hold design values or half a read, which Program would
  // write over the unit.
  bool SettingsReadComplete = false;

 private:
  void QueueReads(const std::vector<unit::QueuedRequest>& reads, bool fullRead);
  void ReadAnswered(const PacketRef& p);
  bool fullReadPending_ = false;
  // Shows a message box once `delayTicks` ticks have passed, from the event
  // loop: never a modal box inside the link's handlers.
  void TellUserLater(const std::string& text, int delayTicks = 0);
  void TellUserAt(const std::string& text, std::int64_t dueTick);
  void HelloAnswered();
  void ShowReadReply(const Packet& p);
  void ShowItems(const std::array<int, unit::kPlaces + 1>& codes);
  void ShowTable(platform::ListBox& list, int k, const unit::TableData& table);
  void ShowMainTables(char letter, const unit::MainTablesReply& reply);
  void ShowAnInputs(const std::array<unit::TableData, unit::kAnInputs>& inputs);

 public:
  // ===== end of settings exchange =====

  // ===== Connection, keypad and firmware (src/unit) =====
  // Binds the handlers below; called from the constructor.
  void BindConnection();
  // Opens the link, or closes it when its port is open.
  void ConButton_Action();
  // The link's events: caption of ConButton and text of stat follow them.
  void Sline_Connecting();
  void Sline_Connected();
  void Sline_Disconnected();
  void ReadBut_Action();
  void WriteBut_Action();
  // Enables or disables the keypad, "Read" and "Program" together.
  void UpdateButtons(bool enabled);

  // The port pop-up: the system's ports after "None", the remembered one kept.
  void port_Open();
  void port_Change();
  void ListPorts();

  // The unit's keys, and the hidden buttons into and out of its bootloader.
  void LeftC_Action();
  void RightC_Action();
  void UpC_Action();
  void DownC_Action();
  void EnterC_Action();
  void PRGBut_Open();
  void PRGBut_Action();
  void ExitBut_Open();
  void ExitBut_Action();

  // Every 500 ms: the watchdog probe and the layout preview.
  void Timer2_Action();

  // Update Firmware: into the bootloader unless already there, then Upgrade.
  void FWUpdate_Action();
  // Queues the whole update in one pass; the argument has no effect.
  void Upgrade(int unused);

  // Sets PortWatch and lets the watch refresh the port list through this
  // window. Called by the application when it starts the watch.
  void AttachPortWatch(BGThread* watch);

  // The image Update Firmware sends: VA2Firmware() unless replaced (tests and
  // the benchmark send images of their own).
  std::function<std::string()> FirmwareImage;

  // True from Upgrade until the unit has acknowledged leaving its bootloader,
  // or until the update broke off. Wider than Upgrading, which ends with the
  // last block: the "E" that follows still belongs to the update.
  bool FirmwareUnderway = false;
  // An update broke off in this run and none has completed since: the unit
  // may hold half an image, so a unit found in its bootloader stays there.
  bool FirmwareBrokenOff = false;
  // While true, nothing but the update's own requests may be queued: the
  // bootloader would take them as commands, and behind the last block they
  // would keep the update from ending.
  bool FirmwareOwnsLinkNow() const;

 private:
  // One press of a keypad key; none while the firmware owns the link.
  void PressKey(unit::KeypadKey key);
  // The link dropped its queue or closed in the middle of an update.
  void FirmwareUpdateBroken();
  // The reply handler's part of the update: progress, the way out of the
  // bootloader and the hello after it.
  void CarriageReturnAcknowledged(const Packet& p);
  // Follows the acknowledgements of the update after the reply handler.
  void FirmwareStep(PacketRef p);

 public:
  // ===== end of connection, keypad and firmware =====

  // ===== Editor (src/editor) =====
  // Binds the handlers below to their controls.
  void BindEditor();

  // Display-item catalogue: rebuilds `afrlist`, the eight place pop-ups and the
  // sensor captions for engine control system `sys`.
  void Options(int sys);
  void AddItem(platform::PopupMenu& popup, const std::string& text, int code);
  // Selects the first row tagged `code`; changes nothing when there is none.
  void SelectP(platform::PopupMenu& popup, int code);
  // Selects row `index` when it lies below the row count, else row 0.
  void ListSel(platform::PopupMenu& popup, int index);
  // Shows place `k` with `code`, or with no selection when the system doesn't
  // offer that code: a place never shows an item other than the one stored.
  void ShowPlace(int k, int code);

  // Page and item editor.
  void Page_Open();
  void Page_Change();
  void Item_Change(int index);
  void Sys_Open();
  void Sys_Change();
  void maps_Open();
  void vact_Open();
  void prest_Open();

  // Calibration tables.
  void WList_Open();
  void O2List_Open();
  void ELDList_Open();
  void EGRList_Open();
  void B6List_Open();
  void an1list_Open();
  void an2list_Open();
  void an3list_Open();
  void an4list_Open();
  void an5list_Open();
  void WList_CellAction(int row, int column);
  void O2List_CellAction(int row, int column);
  void ELDList_CellAction(int row, int column);
  void EGRList_CellAction(int row, int column);
  void B6List_CellAction(int row, int column);
  void an1list_CellAction(int row, int column);
  void an2list_CellAction(int row, int column);
  void an3list_CellAction(int row, int column);
  void an4list_CellAction(int row, int column);
  void an5list_CellAction(int row, int column);
  void afrlist_Open();

  // Warning limits and unit options.
  void rpmw_TextChange();
  void mapw_TextChange();
  void ectw_TextChange();
  void iatw_TextChange();
  void mappop_Change();
  void usecelsius_Action();
  void StPage_Open();
  // Shows the limits the unit holds, each as it stands even beyond what the
  // user may type there: a write with nothing edited gives back what was read.
  void ShowLimits(const unit::LimitsReply& limits);

 private:
  bool showingUnitLimits_ = false;

 public:
  // ===== end of editor =====

  // ===== Layout file (src/editor) =====
  // File > Save: writes the layout to a file the user chooses. File > Load:
  // reads one back into the controls and ends on page "1".
  void SaveFile();
  void LoadFile();
  // The layout as the file holds it, read from the controls.
  editor::Layout CollectLayout() const;
  // Applies the whole fields of a read layout in file order through the
  // controls. False when an index lay outside its pop-up's rows (that pop-up
  // is then left as it was).
  bool ApplyLayout(const editor::LayoutRead& read);
  // The layout file's dialogs: each returns the chosen path, empty when the
  // user cancels. Tests replace them so that no modal dialog opens.
  std::function<std::string(const std::string& defaultName)> ChooseLayoutToSave;
  std::function<std::string(const std::string& title)> ChooseLayoutToOpen;
  void BindLayoutFile();
  // ===== end of layout file =====

  // ===== Software update (src/update) =====
  // Binds the handlers below; called from the constructor.
  void BindUpdate();
  // Asks the maker's server for its newest build and returns at once; the
  // answer arrives as VersSocket_PageReceived. Nothing without a network.
  void CheckVersion(bool direct);
  // The version answer: offers a newer build and starts its download.
  void VersSocket_PageReceived(const std::string& url, int status,
                               const platform::InternetHeaders& headers,
                               const std::string& content);
  // The download's progress, shown in DLWin.
  void VersSocket_ReceiveProgress(int received, int total, const std::string& data);
  // The archive has arrived: it is unpacked beside the program by a job
  // thread, and once the job has ended the new copy takes over.
  void VersSocket_DownloadComplete(const std::string& url, int status,
                                   const platform::InternetHeaders& headers,
                                   const std::filesystem::path& file);
  // A request that got no answer at all.
  void VersSocket_Error(const std::string& reason);
  // A newer build has been found, and the question whether to download it
  // waits for the modal dialog on screen (such as the start-up message) to go.
  bool UpdateOfferWaiting() const { return offerWaiting_; }

  // The maker's server, "http://" and its host; tests point it elsewhere.
  std::string UpdateServer;
  // The folder that holds the program's bundle: the update is saved and
  // unpacked there. The application sets it, with the bundle the program runs
  // from, as ProgramPlace::Running knows it, and the Trash that a stale old
  // copy goes to.
  std::filesystem::path ProgramFolder;
  std::optional<platform::ItemId> RunningCopy = platform::ItemId{};
  std::filesystem::path Trash;
  // Records the new copy to launch at quit and quits. The application sets
  // it; tests capture it.
  std::function<void(const std::filesystem::path& newCopy)> HandOver;
  // Neither a settings write nor a firmware update is underway, so quitting
  // cannot leave the unit half-programmed or in its bootloader.
  bool LinkIdle() const { return !Programming && !FirmwareUnderway; }

 private:
  struct UpdateJob;
  // Asks whether to download the build named by `tag`, once no modal dialog
  // is up; Yes starts the download.
  void OfferUpdate(const std::string& tag);
  void UpdateJobEnded();
  void HandOverWhenIdle(const std::filesystem::path& bundle);
  // Ends the update where it failed: the downloaded file is deleted, the
  // download window goes, and then `message` (unless empty) is shown.
  void AbandonUpdate(const std::filesystem::path& file, const std::string& message);
  std::shared_ptr<UpdateJob> update_;
  bool offerWaiting_ = false;

 public:
  // ===== end of software update =====

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateMainPage();
  void CreateLayoutPage();
  void CreateSettingsPage();
  void CreateSensorsPage();
  void CreateSensors2Page();
  void SensorGroup(int panel, int left, int width, platform::ListBox& list,
                   platform::EditField& name, platform::CheckBox& decimals);
  void CreateComPage();
  void CreateBottomBar();
  // Puts a control on a page panel (-1: the window itself) at window
  // coordinates and records it in creation order.
  template <class C>
  C& Put(C& control, int panel, int left, int top, int width, int height) {
    PutControl(control, panel, left, top, width, height);
    return control;
  }
  void PutControl(platform::Control& control, int panel, int left, int top, int width, int height);
  template <class C>
  C& Decoration(const std::string& name, int panel, int left, int top, int width, int height);
  // A caption or note with no name of its own in the handlers.
  platform::StaticText& Label(const std::string& name, int panel, const std::string& text, int left,
                              int top, int width, int height);
  platform::GroupBox& Box(const std::string& name, int panel, const std::string& caption, int left,
                          int top, int width, int height);
  void OpenControls();

  // Binds the handlers of the window itself; each subsystem adds its own
  // Bind... call to the constructor.
  void BindHandlers();

  QWidget* central_ = nullptr;
  std::vector<platform::Control*> created_;
  std::vector<std::unique_ptr<platform::Control>> decorations_;
};
