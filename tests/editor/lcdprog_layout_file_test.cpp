// File > Save and File > Load on the real window (offscreen), with the file
// dialogs replaced by the path the test chooses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "editor/layout_file.h"
#include "editor/layout_samples.h"
#include "fixtures/zip_builder.h"
#include "mainwindow/files.h"
#include "mainwindow/lcdprog.h"
#include "platform/apple_double.h"
#include "platform/qt/msgbox.h"
#include "platform/run_unprivileged.h"
#include "platform/valstr.h"

namespace {

class LayoutFileWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    _InitFileTypes();
    previousSink_ =
        platform::SetMsgBoxSink([this](const std::string& t) { messages_.push_back(t); });
  }
  void TearDown() override { platform::SetMsgBoxSink(previousSink_); }

  // A window whose dialogs answer with `path` (empty: the user cancels).
  void Choose(LCDProg& w, const std::string& path) {
    w.ChooseLayoutToSave = [this, path](const std::string& name) {
      asked_.push_back(name);
      return path;
    };
    w.ChooseLayoutToOpen = [this, path](const std::string& title) {
      asked_.push_back(title);
      return path;
    };
  }

  static std::string Read(const std::string& path) { return fixtures::ReadFile(path); }

  // The code place k shows, or -1 without a selection.
  static int Shown(LCDProg& w, int k) {
    int row = w.Item[k].ListIndex();
    return row < 0 ? -1 : w.Item[k].RowTag(row);
  }
  static int RowOf(platform::PopupMenu& popup, int code) {
    for (int row = 0; row < popup.ListCount(); ++row)
      if (!popup.IsSeparator(row) && popup.RowTag(row) == code) return row;
    return -1;
  }

  // Changes every field the file holds, through the controls as a user would.
  static void ChangeEverything(LCDProg& w) {
    w.Sys.SetListIndex(5);  // K-Pro: two wideband inputs
    w.maps.SetListIndex(13);
    w.prest.SetListIndex(2);
    w.vact.SetListIndex(3);
    w.afrlist.SetListIndex(1);
    w.WList.SetCell(0, 0, "0.5");
    w.WList.SetCell(0, 1, "9.9");
    w.WList.SetCell(1, 0, "4.75");
    w.WList.SetCell(1, 1, "25.5");
    w.ltps.SetText("0.3");
    w.utps.SetText("4.8");
    const int page0[8] = {101, 1, 18, 79, 74, 11, 0, 73};
    for (int k = 0; k < 8; ++k) w.Item[k].SetListIndex(RowOf(w.Item[k], page0[k]));
    w.Page.SetListIndex(6);
    w.Item[7].SetListIndex(RowOf(w.Item[7], 57));
    w.Page.SetListIndex(0);
    w.rpmw.SetText("7200");
    w.mapw.SetText("20");
    w.iatw.SetText("150");
    w.ectw.SetText("210.7");
    platform::ListBox* tables[] = {&w.O2List, &w.ELDList, &w.EGRList, &w.B6List};
    for (int t = 0; t < 4; ++t)
      for (int r = 0; r < 15; ++r) {
        tables[t]->SetCell(r, 0, platform::Str(r / 3.0 + 0.01 * t));
        tables[t]->SetCell(r, 1, std::to_string(t * 800 + r * 50));
      }
  }

  fixtures::TempDir temp_;
  std::string dir_ = temp_.path().string();
  std::vector<std::string> messages_;
  std::vector<std::string> asked_;
  platform::MsgBoxSink previousSink_;
};

TEST_F(LayoutFileWindow, DefaultWindowSavesTheWholeFile) {
  LCDProg w;
  const std::string path = dir_ + "/Vantora Layout.lcd";
  Choose(w, path);
  w.SaveFile();
  EXPECT_EQ(asked_, std::vector<std::string>{"Vantora Layout.lcd"});
  EXPECT_TRUE(messages_.empty());
  const std::string bytes = Read(path);
  EXPECT_EQ(bytes.size(), 330u);
  EXPECT_EQ(bytes, editor::EncodeLayout(layout_samples::DefaultWindow()));
  std::string type, creator;
  platform::ReadMacTypeCreator(platform::ItemAt(path), type, creator);
  EXPECT_EQ(type, "lcdc");
  EXPECT_EQ(creator, "Vnta");

  // Saving again and again holds no descriptor open.
  const auto descriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto open = descriptors();
  for (int i = 0; i < 10; ++i) w.SaveFile();
  EXPECT_EQ(descriptors(), open);

  // Saved over a link that leads nowhere, the file gets the mode any new
  // file gets here, not the link's.
  const std::string dangling = dir_ + "/dangling.lcd", fresh = dir_ + "/fresh";
  ASSERT_EQ(::symlink((dir_ + "/gone.lcd").c_str(), dangling.c_str()), 0);
  ::close(::open(fresh.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
  Choose(w, dangling);
  w.SaveFile();
  EXPECT_EQ(Read(dangling), bytes);
  struct stat saved {
  }, made{};
  ASSERT_EQ(::stat(dangling.c_str(), &saved), 0);
  ASSERT_EQ(::stat(fresh.c_str(), &made), 0);
  EXPECT_EQ(saved.st_mode & 07777, made.st_mode & 07777);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(LayoutFileWindow, ChangedWindowLoadsBackIntoAnEqualWindow) {
  const std::string path = dir_ + "/changed.lcd";
  LCDProg saved;
  ChangeEverything(saved);
  ASSERT_EQ(saved.Opt[1], 101);
  ASSERT_EQ(saved.Opt[56], 57);
  Choose(saved, path);
  saved.SaveFile();

  LCDProg loaded;
  loaded.Page.SetListIndex(4);
  Choose(loaded, path);
  loaded.LoadFile();
  EXPECT_EQ(asked_.back(), "Select an LCD layout to open");
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_EQ(loaded.CollectLayout(), saved.CollectLayout());
  EXPECT_EQ(loaded.Opt, saved.Opt);
  EXPECT_EQ(loaded.afrlist.ListCount(), 2);
  EXPECT_EQ(loaded.afrlist.ListIndex(), 1);
  EXPECT_EQ(loaded.ectw.Text(), "210");  // warnings are whole numbers
  // The window ends on page "1", its places showing the loaded codes.
  EXPECT_EQ(loaded.Page.ListIndex(), 0);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(Shown(loaded, k), saved.Opt[k + 1]) << k;
}

TEST_F(LayoutFileWindow, OldFileKeepsWhatItDoesNotHold) {
  // Version 1: system 0 and B6 input (index 3), which only the rebuild for
  // system 0 offers; then 40 codes and nothing more.
  layout_samples::Bytes f;
  f.I8(1).I8(0).I8(2).I8(1).I8(1).I8(3);
  f.Text("1").Text("11").Text("4").Text("19").Text("0.5").Text("4.5");
  for (int i = 1; i <= 40; ++i) f.I8(i == 1 ? 7 : 0);
  const std::string path = dir_ + "/old.lcd";
  std::ofstream(path, std::ios::binary) << f.b;

  LCDProg w;
  w.Sys.SetListIndex(4);  // Crome: one wideband input
  w.rpmw.SetText("9000");
  w.O2List.SetCell(3, 1, "77");
  w.Opt[41] = 13;
  w.Opt[56] = 17;
  Choose(w, path);
  w.LoadFile();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(w.Sys.ListIndex(), 0);
  EXPECT_EQ(w.afrlist.ListIndex(), 3);
  EXPECT_EQ(w.maps.ListIndex(), 2);
  EXPECT_EQ(w.WList.Cell(1, 1), "19");
  EXPECT_EQ(w.utps.Text(), "4.5");
  EXPECT_EQ(w.Opt[1], 7);
  EXPECT_EQ(Shown(w, 0), 7);
  EXPECT_EQ(w.Opt[41], 13);
  EXPECT_EQ(w.Opt[56], 17);
  EXPECT_EQ(w.rpmw.Text(), "9000");
  EXPECT_EQ(w.O2List.Cell(3, 1), "77");
}

TEST_F(LayoutFileWindow, DamagedFileAppliesWholeFieldsAndSaysSo) {
  const std::string path = dir_ + "/damaged.lcd";
  LCDProg saved;
  ChangeEverything(saved);
  Choose(saved, path);
  saved.SaveFile();
  // Cut a few bytes into the ELD table, the field after the O2 table.
  std::string bytes = Read(path);
  std::size_t cut = 0;
  while (editor::DecodeLayout(bytes.substr(0, cut)).fieldsRead < editor::kFieldO2Table) ++cut;
  bytes.resize(cut + 5);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  auto read = editor::LoadLayoutFile(path);
  ASSERT_TRUE(read.damaged);
  ASSERT_EQ(read.fieldsRead, editor::kFieldO2Table);

  LCDProg loaded;
  loaded.Page.SetListIndex(3);
  Choose(loaded, path);
  loaded.LoadFile();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "This layout file is damaged. " + read.error +
                              " Only the settings before that point were loaded.");
  EXPECT_EQ(loaded.Sys.ListIndex(), 5);
  EXPECT_EQ(loaded.rpmw.Text(), "7200");
  EXPECT_EQ(loaded.O2List.Cell(14, 1), saved.O2List.Cell(14, 1));
  EXPECT_EQ(loaded.B6List.Cell(14, 1), "0");  // not applied
  EXPECT_EQ(loaded.Page.ListIndex(), 0);
  EXPECT_EQ(Shown(loaded, 0), 101);

  // An empty file applies nothing but still ends on page "1".
  std::ofstream(path, std::ios::binary | std::ios::trunc).flush();
  LCDProg empty;
  empty.Page.SetListIndex(5);
  Choose(empty, path);
  empty.LoadFile();
  EXPECT_EQ(messages_.back(),
            "This layout file is damaged. The file is empty. Only the settings before that point "
            "were loaded.");
  EXPECT_EQ(empty.CollectLayout(), layout_samples::DefaultWindow());
  EXPECT_EQ(empty.Page.ListIndex(), 0);
}

TEST_F(LayoutFileWindow, OutOfRangeIndicesLeaveTheirPopUpsAlone) {
  layout_samples::Bytes f;
  f.I8(3).I8(5).I8(0x7F).I8(0xFE).I8(4).I8(3);  // maps 127, prest -2, vact 4, afr 3 of 2
  for (int i = 0; i < 6; ++i) f.Text("1");
  for (int i = 1; i <= 56; ++i) f.I8(0xF0);  // codes no system offers
  f.I16(100).I16(200).I16(30).I16(40);
  for (int i = 0; i < 120; ++i) f.Text("2");
  const std::string path = dir_ + "/odd.lcd";
  std::ofstream(path, std::ios::binary) << f.b;

  LCDProg w;
  w.maps.SetListIndex(4);
  Choose(w, path);
  w.LoadFile();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "This layout file is damaged. Some of its settings are out of range and were left as "
            "they were.");
  EXPECT_EQ(w.Sys.ListIndex(), 5);
  EXPECT_EQ(w.maps.ListIndex(), 4);
  EXPECT_EQ(w.prest.ListIndex(), 0);
  EXPECT_EQ(w.vact.ListIndex(), 0);
  EXPECT_EQ(w.afrlist.ListIndex(), 0);
  EXPECT_EQ(w.Opt[56], 0xF0);
  EXPECT_EQ(w.mapw.Text(), "200");
  EXPECT_EQ(w.B6List.Cell(14, 1), "2");
}

TEST_F(LayoutFileWindow, PopUpsWithoutSelectionStayWithout) {
  const std::string path = dir_ + "/none.lcd";
  LCDProg saved;
  saved.Sys.SetListIndex(-1);
  saved.maps.SetListIndex(-1);
  saved.afrlist.SetListIndex(-1);
  Choose(saved, path);
  saved.SaveFile();
  LCDProg loaded;
  Choose(loaded, path);
  loaded.LoadFile();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(loaded.Sys.ListIndex(), -1);
  EXPECT_EQ(loaded.maps.ListIndex(), -1);
  EXPECT_EQ(loaded.CollectLayout(), saved.CollectLayout());
}

TEST_F(LayoutFileWindow, CancelIsSilentAndFailuresAreTold) {
  LCDProg w;
  w.Page.SetListIndex(4);
  Choose(w, "");
  w.SaveFile();
  w.LoadFile();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(w.Page.ListIndex(), 4);  // a cancelled load redraws nothing

  Choose(w, dir_ + "/missing.lcd");
  w.LoadFile();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "This layout could not be opened (No such file or directory).");
  EXPECT_EQ(w.Page.ListIndex(), 0);

  // A read-only folder: the save is refused and the old file stays whole.
  const std::string folder = dir_ + "/readonly";
  const std::string path = folder + "/layout.lcd";
  ::mkdir(folder.c_str(), 0755);
  Choose(w, path);
  w.SaveFile();
  const std::string before = Read(path);
  ASSERT_EQ(before.size(), 330u);
  ::chmod(path.c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  w.rpmw.SetText("5000");
  bool told = test_support::RunUnprivileged([&] {
    messages_.clear();
    w.SaveFile();
    return messages_.size() == 1 &&
           messages_[0] ==
               "Your layout could not be saved (Cannot create a file in that folder: Permission "
               "denied). Any file of that name has been left as it was.";
  });
  EXPECT_TRUE(told);
  EXPECT_EQ(Read(path), before);
}

}  // namespace
