#include "unit/firmware_update.h"

#include <gtest/gtest.h>

#include "link/packet.h"
#include "unit/bytes.h"

namespace unit {
namespace {

using unittest::B;

std::string Image(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

TEST(FirmwareUpdate, ThreeHundredBytesFromNormalFirmware) {
  const std::string img = Image(300);
  const auto reqs = FirmwareUpdateRequests(img, /*inBootloader=*/false);
  ASSERT_EQ(reqs.size(), 7u);
  EXPECT_EQ(reqs[0], (QueuedRequest{PacketTypeOK, B({0x1B, 0x1B})}));
  EXPECT_EQ(reqs[1], (QueuedRequest{PacketTypeHello, "V"}));
  EXPECT_EQ(reqs[2], (QueuedRequest{PacketTypeCR, "e"}));
  EXPECT_EQ(reqs[3], (QueuedRequest{PacketTypeCR, "A" + B({0, 0})}));
  EXPECT_EQ(reqs[4], (QueuedRequest{PacketTypeCR, "B" + B({1, 0}) + "F" + img.substr(0, 256)}));
  EXPECT_EQ(reqs[5], (QueuedRequest{PacketTypeCR, "A" + B({0x00, 0x80})}));
  EXPECT_EQ(reqs[6], (QueuedRequest{PacketTypeCR, "B" + B({0x00, 0x2C}) + "F" + img.substr(256)}));
  EXPECT_EQ(FirmwareBlockCount(img.size()), 2);
}

TEST(FirmwareUpdate, AlreadyInBootloaderStartsWithChipErase) {
  const auto reqs = FirmwareUpdateRequests(Image(10), /*inBootloader=*/true);
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[0], (QueuedRequest{PacketTypeCR, "e"}));
  EXPECT_EQ(reqs[2].Final.substr(0, 4), "B" + B({0, 10}) + "F");
}

TEST(FirmwareUpdate, BlockBoundaries) {
  // Exactly two full blocks: no short block after them.
  auto reqs = FirmwareBlockRequests(Image(512));
  ASSERT_EQ(reqs.size(), 5u);
  EXPECT_EQ(reqs[4].Final.size(), 4u + 256u);
  EXPECT_EQ(FirmwareBlockCount(512), 2);

  // One byte over: a last block of one byte at word address 128.
  const std::string img = Image(257);
  reqs = FirmwareBlockRequests(img);
  ASSERT_EQ(reqs.size(), 5u);
  EXPECT_EQ(reqs[3].Final, "A" + B({0, 128}));
  EXPECT_EQ(reqs[4].Final, "B" + B({0, 1}) + "F" + img.substr(256, 1));
}

TEST(FirmwareUpdate, LargestImageReachesTheLastWordAddressAndRebuildsTheImage) {
  const std::string img = Image(FirmwareMaxBytes);
  EXPECT_EQ(FirmwareImageProblem(img), "");
  const auto reqs = FirmwareBlockRequests(img);
  ASSERT_EQ(reqs.size(), 1u + 2u * 512u);
  EXPECT_EQ(reqs[reqs.size() - 2].Final, "A" + B({0xFF, 0x80}));
  // Reassembling the blocks at their word addresses gives the image back,
  // byte for byte, including bytes 0, 13 and 27 that mean something on the link.
  std::string flash(FirmwareMaxBytes, '\xFF');
  for (std::size_t i = 1; i < reqs.size(); i += 2) {
    const std::string& a = reqs[i].Final;
    const std::string& b = reqs[i + 1].Final;
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b[3], 'F');
    const std::size_t word =
        (static_cast<unsigned char>(a[1]) << 8) | static_cast<unsigned char>(a[2]);
    const std::size_t len =
        (static_cast<unsigned char>(b[1]) << 8) | static_cast<unsigned char>(b[2]);
    ASSERT_EQ(b.size(), 4 + len);
    flash.replace(word * 2, len, b, 4, len);
  }
  EXPECT_EQ(flash, img);
}

TEST(FirmwareUpdate, RefusesImagesThatCannotBeSent) {
  EXPECT_EQ(FirmwareImageProblem(""), FirmwareEmptyMessage);
  EXPECT_EQ(FirmwareImageProblem(Image(FirmwareMaxBytes + 1)), FirmwareTooLargeMessage);
  EXPECT_EQ(FirmwareImageProblem(Image(1)), "");
}

TEST(FirmwareUpdate, EntryAndExitMatchTheBootloaderButtons) {
  EXPECT_EQ(BootloaderEntryRequests(),
            (std::vector<QueuedRequest>{{PacketTypeOK, "\x1B\x1B"}, {PacketTypeHello, "V"}}));
  EXPECT_EQ(BootloaderExitRequest(), (QueuedRequest{PacketTypeCR, "E"}));
}

}  // namespace
}  // namespace unit
