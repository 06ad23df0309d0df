// Giving a file its Mac type and creator in its AppleDouble sidecar.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "fixtures/zip_builder.h"
#include "platform/apple_double.h"

namespace {

using namespace platform;

class MacTypeCreator : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(item_) << "data"; }

  std::string Sidecar() const { return fixtures::ReadFile(dir_ + "/._Vantora Layout.lcd"); }
  void WriteSidecar(const std::string& bytes) const {
    std::ofstream(dir_ + "/._Vantora Layout.lcd", std::ios::binary | std::ios::trunc) << bytes;
  }

  // The bytes of the sidecar's entry with that id; the order of entries is
  // the writer's to choose.
  std::string EntryBytes(std::uint32_t id) const {
    const std::string bytes = Sidecar();
    for (const AppleDoubleEntry& e :
         ParseAppleDoubleHeader(bytes).value_or(std::vector<AppleDoubleEntry>{})) {
      if (e.id == id) return bytes.substr(e.offset, e.length);
    }
    return "(none)";
  }

  fixtures::TempDir temp_;
  std::string dir_ = temp_.path().string();
  std::string item_ = dir_ + "/Vantora Layout.lcd";
};

TEST_F(MacTypeCreator, NewSidecarHoldsFinderInformation) {
  std::string error;
  ASSERT_TRUE(WriteMacTypeCreator(platform::ItemAt(item_), "lcdc", "Vnta", &error)) << error;
  std::string type, creator;
  ReadMacTypeCreator(platform::ItemAt(item_), type, creator);
  EXPECT_EQ(type, "lcdc");
  EXPECT_EQ(creator, "Vnta");
  const std::string bytes = Sidecar();
  ASSERT_EQ(bytes.size(), 26u + 12u + 32u);
  auto entries = ParseAppleDoubleHeader(bytes);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].id, kAppleDoubleFinderInfo);
  EXPECT_EQ(bytes.substr(46), std::string(24, '\0'));  // flags and the rest stay clear
  EXPECT_FALSE(WriteMacTypeCreator(platform::ItemAt(item_), "lcd", "Vnta", &error));
}

TEST_F(MacTypeCreator, ExistingEntriesAreKept) {
  // A resource fork and Finder information with flags set.
  const std::string head = fixtures::AppleDoubleHeader(
      {{kAppleDoubleResourceFork, 50, 5}, {kAppleDoubleFinderInfo, 55, 32}});
  const std::string info = "TEXTttxt" + std::string("\x01\x00", 2) + std::string(22, '\x07');
  WriteSidecar(head + "RSRC!" + info);

  std::string error;
  ASSERT_TRUE(WriteMacTypeCreator(platform::ItemAt(item_), "lcdc", "Vnta", &error)) << error;
  const std::string bytes = Sidecar();
  auto entries = ParseAppleDoubleHeader(bytes);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ(EntryBytes(kAppleDoubleResourceFork), "RSRC!");
  EXPECT_EQ(EntryBytes(kAppleDoubleFinderInfo), "lcdcVnta" + info.substr(8));

  // Only a resource fork: the Finder information is added beside it.
  const std::string forkOnly = fixtures::AppleDoubleHeader({{kAppleDoubleResourceFork, 38, 3}});
  WriteSidecar(forkOnly + "abc");
  ASSERT_TRUE(WriteMacTypeCreator(platform::ItemAt(item_), "lcdc", "Vnta", &error)) << error;
  entries = ParseAppleDoubleHeader(Sidecar());
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ(EntryBytes(kAppleDoubleResourceFork), "abc");
  std::string type, creator;
  ReadMacTypeCreator(platform::ItemAt(item_), type, creator);
  EXPECT_EQ(type + creator, "lcdcVnta");
}

TEST_F(MacTypeCreator, ForeignDotUnderscoreFileIsLeftAlone) {
  WriteSidecar("not metadata");
  std::string error;
  EXPECT_FALSE(WriteMacTypeCreator(platform::ItemAt(item_), "lcdc", "Vnta", &error));
  EXPECT_EQ(error, "._Vantora Layout.lcd is not an AppleDouble file");
  EXPECT_EQ(Sidecar(), "not metadata");
}

}  // namespace
