#include "editor/layout_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "editor/layout_samples.h"
#include "fixtures/zip_builder.h"
#include "platform/run_unprivileged.h"

namespace {

using editor::DecodeLayout;
using editor::EncodeLayout;
using editor::Layout;
using layout_samples::Bytes;

// The default window, written out field by field.
std::string DefaultWindowFile(int versionByte) {
  const int version = static_cast<std::int8_t>(versionByte);
  Bytes f;
  f.I8(version).I8(0).I8(0).I8(0).I8(0).I8(0);
  f.Text("0").Text("10").Text("5").Text("20").Text("0.45").Text("4.50");
  const int codes = editor::ReadVersion(version) == 3 ? 56 : 40;
  for (int i = 0; i < codes; ++i) f.I8(0);
  if (editor::ReadVersion(version) == 1) return f.b;
  f.I16(0).I16(0).I16(0).I16(0);
  for (int i = 0; i < 4 * 15; ++i) f.Text("0").Text("0");
  return f.b;
}

TEST(LayoutFile, DefaultWindowEncodesByteForByte) {
  const std::string bytes = EncodeLayout(layout_samples::DefaultWindow());
  // 6 index bytes, 20 for the six texts, 56 codes, 8 for the warnings and
  // 240 for the four tables of fifteen rows of two one-digit texts.
  EXPECT_EQ(bytes.size(), 330u);
  EXPECT_EQ(bytes, DefaultWindowFile(3));
}

TEST(LayoutFile, HandBuiltFilesOfEachVersion) {
  // Version 3: every field, in file order, with values that tell them apart.
  Bytes v3;
  v3.I8(3).I8(5).I8(2).I8(1).I8(3).I8(1);
  v3.Text("1.5").Text("11").Text("4.5").Text("19").Text("0.5").Text("4.6");
  for (int i = 1; i <= 56; ++i) v3.I8(i == 56 ? 0xC8 : i);
  v3.I16(0x1F40).I16(0x03F5).I16(0x0064).I16(0xFFFE);
  for (int t = 0; t < 4; ++t)
    for (int r = 0; r < 15; ++r) v3.Text(std::to_string(r)).Text(std::to_string(t * 100 + r));
  auto r3 = DecodeLayout(v3.b);
  ASSERT_FALSE(r3.damaged) << r3.error;
  EXPECT_EQ(r3.fieldsRead, editor::kLastField);
  const Layout& l = r3.layout;
  EXPECT_EQ(l.version, 3);
  EXPECT_EQ(l.sys, 5);
  EXPECT_EQ(l.maps, 2);
  EXPECT_EQ(l.prest, 1);  // pressure before vacuum
  EXPECT_EQ(l.vact, 3);
  EXPECT_EQ(l.afr, 1);
  EXPECT_EQ(l.wideband[0][0], "1.5");
  EXPECT_EQ(l.wideband[0][1], "11");
  EXPECT_EQ(l.wideband[1][0], "4.5");
  EXPECT_EQ(l.wideband[1][1], "19");
  EXPECT_EQ(l.lowTps, "0.5");
  EXPECT_EQ(l.highTps, "4.6");
  EXPECT_EQ(l.opt[1], 1);
  EXPECT_EQ(l.opt[55], 55);
  EXPECT_EQ(l.opt[56], 200);  // written as signed -56, read back as the code
  EXPECT_EQ(l.rpmw, 8000);
  EXPECT_EQ(l.mapw, 1013);
  EXPECT_EQ(l.iatw, 100);  // intake air before coolant
  EXPECT_EQ(l.ectw, -2);
  EXPECT_EQ(l.tables[0][0][0], "0");
  EXPECT_EQ(l.tables[3][14][0], "14");
  EXPECT_EQ(l.tables[3][14][1], "314");
  EXPECT_EQ(EncodeLayout(l), v3.b);

  // Version 2: 40 codes, then warnings and tables.
  Bytes v2;
  v2.I8(2).I8(0).I8(1).I8(2).I8(3).I8(3);
  v2.Text("0").Text("10").Text("5").Text("20").Text("0.45").Text("4.50");
  for (int i = 1; i <= 40; ++i) v2.I8(100 + i);
  v2.I16(6500).I16(2000).I16(150).I16(220);
  for (int i = 0; i < 60; ++i) v2.Text("2").Text("30");
  auto r2 = DecodeLayout(v2.b);
  ASSERT_FALSE(r2.damaged) << r2.error;
  EXPECT_EQ(r2.fieldsRead, editor::kLastField);
  EXPECT_EQ(r2.layout.afr, 3);
  EXPECT_EQ(r2.layout.opt[40], 140);
  EXPECT_EQ(r2.layout.opt[41], 0);  // not in the file
  EXPECT_EQ(r2.layout.rpmw, 6500);
  EXPECT_EQ(r2.layout.ectw, 220);
  EXPECT_EQ(r2.layout.tables[2][7][1], "30");

  // Version 1 ends with the 40 codes.
  Bytes v1;
  v1.I8(1).I8(6).I8(0).I8(0).I8(0).I8(1);
  v1.Text("0").Text("10").Text("5").Text("20").Text("0.45").Text("4.50");
  for (int i = 1; i <= 40; ++i) v1.I8(i % 2 ? 18 : 107);
  auto r1 = DecodeLayout(v1.b);
  ASSERT_FALSE(r1.damaged) << r1.error;
  EXPECT_EQ(r1.fieldsRead, editor::kLastFieldOfVersion1);
  EXPECT_EQ(r1.layout.sys, 6);
  EXPECT_EQ(r1.layout.opt[39], 18);
  EXPECT_EQ(r1.layout.opt[40], 107);
  EXPECT_EQ(v1.b.size(), 6u + 20u + 40u);
}

TEST(LayoutFile, ChangedLayoutRoundTrips) {
  const Layout changed = layout_samples::Changed();
  const std::string bytes = EncodeLayout(changed);
  auto r = DecodeLayout(bytes);
  ASSERT_FALSE(r.damaged) << r.error;
  EXPECT_EQ(r.layout, changed);
  EXPECT_EQ(static_cast<unsigned char>(bytes[4]), 0xFFu);  // vact -1
  // An old layout is always saved as version 3.
  Layout old = changed;
  old.version = 1;
  EXPECT_EQ(EncodeLayout(old), bytes);
}

TEST(LayoutFile, VersionBytes) {
  struct Case {
    int byte;
    int readAs;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {0x7F, 3}, {0x80, 1}, {0xFF, 1}};
  for (auto c : cases) {
    SCOPED_TRACE(c.byte);
    EXPECT_EQ(editor::ReadVersion(static_cast<std::int8_t>(c.byte)), c.readAs);
    // A complete file of the length that version holds reads whole...
    std::string file = DefaultWindowFile(c.byte);
    auto r = DecodeLayout(file);
    EXPECT_FALSE(r.damaged) << r.error;
    EXPECT_EQ(r.fieldsRead, c.readAs == 1 ? editor::kLastFieldOfVersion1 : editor::kLastField);
    EXPECT_EQ(r.layout.version, static_cast<std::int8_t>(c.byte));
    // ...and one byte short of it is damaged.
    file.pop_back();
    EXPECT_TRUE(DecodeLayout(file).damaged);
  }
  // A version 1 file read with a version 3 byte runs out in the codes.
  std::string v1 = DefaultWindowFile(1);
  v1[0] = 3;
  auto r = DecodeLayout(v1);
  EXPECT_TRUE(r.damaged);
  EXPECT_EQ(r.fieldsRead, editor::kFieldHighTps);
  EXPECT_EQ(r.error, "The file ends in the middle of the page layout.");
}

TEST(LayoutFile, EveryPrefixIsDamagedAndKeepsOnlyWholeFields) {
  const Layout changed = layout_samples::Changed();
  const std::string bytes = EncodeLayout(changed);
  const Layout untouched;
  int lastFieldsRead = -1;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    auto r = DecodeLayout(std::string_view(bytes).substr(0, n));
    ASSERT_TRUE(r.damaged);
    ASSERT_FALSE(r.error.empty());
    ASSERT_LT(r.fieldsRead, editor::kLastField);
    ASSERT_GE(r.fieldsRead, lastFieldsRead);
    lastFieldsRead = r.fieldsRead;
    // The field that ran out (and every later one) is left at its default.
    const Layout& l = r.layout;
    ASSERT_EQ(l.opt, r.fieldsRead >= editor::kFieldItemCodes ? changed.opt : untouched.opt);
    ASSERT_EQ(l.highTps,
              r.fieldsRead >= editor::kFieldHighTps ? changed.highTps : untouched.highTps);
    ASSERT_EQ(l.ectw, r.fieldsRead >= editor::kFieldEctWarning ? changed.ectw : untouched.ectw);
    for (int t = 0; t < editor::kSensorTables; ++t) {
      const bool whole = r.fieldsRead >= editor::kFieldO2Table + t;
      ASSERT_EQ(l.tables[t], whole ? changed.tables[t] : untouched.tables[t]);
    }
  }
  EXPECT_EQ(DecodeLayout("").error, "The file is empty.");
  // Bytes after the last field are left for later versions.
  auto longer = DecodeLayout(bytes + "extra");
  EXPECT_FALSE(longer.damaged);
  EXPECT_EQ(longer.layout, changed);
}

TEST(LayoutFile, OutOfRangeIndicesAndCodesKeepTheirBytes) {
  Bytes f;
  f.I8(3).I8(0x7F).I8(0x80).I8(0xFE).I8(12).I8(0x40);
  for (int i = 0; i < 6; ++i) f.Text("");
  for (int i = 1; i <= 56; ++i) f.I8(i == 1 ? 0x80 : 0xFF);
  f.I16(0x7FFF).I16(0x8000).I16(0).I16(0);
  for (int i = 0; i < 120; ++i) f.Text("");
  auto r = DecodeLayout(f.b);
  ASSERT_FALSE(r.damaged) << r.error;
  EXPECT_EQ(r.layout.sys, 127);
  EXPECT_EQ(r.layout.maps, -128);
  EXPECT_EQ(r.layout.prest, -2);
  EXPECT_EQ(r.layout.vact, 12);
  EXPECT_EQ(r.layout.afr, 64);
  EXPECT_EQ(r.layout.opt[1], 128);
  EXPECT_EQ(r.layout.opt[2], 255);
  EXPECT_EQ(r.layout.rpmw, 32767);
  EXPECT_EQ(r.layout.mapw, -32768);
  EXPECT_EQ(EncodeLayout(r.layout), f.b);
}

TEST(LayoutFile, LongTextsAreCutAtACharacterBoundary) {
  EXPECT_EQ(editor::CutText(std::string(300, '7')), std::string(255, '7'));
  EXPECT_EQ(editor::CutText("short"), "short");
  const std::string e = "\xC3\xA9";             // 2 bytes
  const std::string euro = "\xE2\x82\xAC";      // 3 bytes
  const std::string clef = "\xF0\x9D\x84\x9E";  // 4 bytes
  EXPECT_EQ(editor::CutText(std::string(254, 'a') + e), std::string(254, 'a'));
  EXPECT_EQ(editor::CutText(std::string(253, 'a') + e + "b"), std::string(253, 'a') + e);
  EXPECT_EQ(editor::CutText(std::string(253, 'a') + euro), std::string(253, 'a'));
  EXPECT_EQ(editor::CutText(std::string(252, 'a') + clef), std::string(252, 'a'));
  EXPECT_EQ(editor::CutText(std::string(251, 'a') + clef + "b"), std::string(251, 'a') + clef);
  // Bytes that are not UTF-8 are cut at the byte.
  EXPECT_EQ(editor::CutText(std::string(300, '\x80')).size(), 255u);

  Layout l = layout_samples::DefaultWindow();
  l.lowTps = std::string(254, '1') + euro;
  l.tables[3][14][1] = std::string(400, '2');
  const std::string bytes = EncodeLayout(l);
  auto r = DecodeLayout(bytes);
  ASSERT_FALSE(r.damaged) << r.error;
  EXPECT_EQ(r.layout.lowTps, std::string(254, '1'));
  EXPECT_EQ(r.layout.tables[3][14][1], std::string(255, '2'));
  EXPECT_EQ(static_cast<unsigned char>(bytes[bytes.size() - 256]), 255u);
}

TEST(LayoutFile, WarningTextsBecomeWholeNumbers) {
  EXPECT_EQ(editor::WarningValue(""), 0);
  EXPECT_EQ(editor::WarningValue("abc"), 0);
  EXPECT_EQ(editor::WarningValue("1500.9"), 1500);
  EXPECT_EQ(editor::WarningValue("-3.7"), -3);
  EXPECT_EQ(editor::WarningValue("14.7"), 14);
  EXPECT_EQ(editor::WarningValue("16000"), 16000);
  EXPECT_EQ(editor::WarningValue("1e30"), 32767);
  EXPECT_EQ(editor::WarningValue("-99999"), -32768);
}

class LayoutFileOnDisk : public ::testing::Test {
 protected:
  fixtures::TempDir temp_;
  std::string dir_ = temp_.path().string();
};

TEST_F(LayoutFileOnDisk, SaveAndLoad) {
  const std::string path = dir_ + "/Vantora Layout.lcd";
  std::string error;
  ASSERT_TRUE(editor::SaveLayoutFile(path, layout_samples::Changed(), &error)) << error;
  auto r = editor::LoadLayoutFile(path);
  EXPECT_FALSE(r.damaged);
  EXPECT_FALSE(r.unreadable);
  EXPECT_EQ(r.layout, layout_samples::Changed());

  auto missing = editor::LoadLayoutFile(dir_ + "/none.lcd");
  EXPECT_TRUE(missing.unreadable);
  EXPECT_EQ(missing.fieldsRead, 0);
  EXPECT_EQ(missing.error, "No such file or directory");
  EXPECT_TRUE(editor::LoadLayoutFile(dir_).unreadable);  // a folder

  std::ofstream(dir_ + "/short.lcd", std::ios::binary) << std::string("\x03\x01", 2);
  auto shortFile = editor::LoadLayoutFile(dir_ + "/short.lcd");
  EXPECT_TRUE(shortFile.damaged);
  EXPECT_FALSE(shortFile.unreadable);
  EXPECT_EQ(shortFile.fieldsRead, editor::kFieldSys);
}

TEST_F(LayoutFileOnDisk, FailedSaveInReadOnlyFolderLeavesOldFileIntact) {
  const std::string path = dir_ + "/layout.lcd";
  std::string error;
  ASSERT_TRUE(editor::SaveLayoutFile(path, layout_samples::DefaultWindow(), &error)) << error;
  ::chmod(path.c_str(), 0666);
  ::chmod(dir_.c_str(), 0555);
  bool refused = test_support::RunUnprivileged([&] {
    std::string why;
    return !editor::SaveLayoutFile(path, layout_samples::Changed(), &why) &&
           why.find("Permission denied") != std::string::npos;
  });
  ::chmod(dir_.c_str(), 0755);
  EXPECT_TRUE(refused);
  auto r = editor::LoadLayoutFile(path);
  EXPECT_FALSE(r.damaged);
  EXPECT_EQ(r.layout, layout_samples::DefaultWindow());
}

TEST_F(LayoutFileOnDisk, HugeFileReadsOnlyWhatALayoutCanHold) {
  // /dev/zero never ends; the loader must stop on its own.
  auto r = editor::LoadLayoutFile("/dev/zero");
  EXPECT_FALSE(r.damaged);
  EXPECT_EQ(r.layout.version, 0);
  EXPECT_EQ(r.fieldsRead, editor::kLastFieldOfVersion1);
}

}  // namespace
