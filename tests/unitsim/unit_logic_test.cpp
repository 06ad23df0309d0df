// The simulated unit's command handling: what each request changes and what
// each read returns, without a pty. Other tests rely on this memory layout.
#include "unitsim/unit_logic.h"

#include <gtest/gtest.h>

#include "unitsim/unit_sim.h"

using namespace unitsim;

namespace {
// Feeds whole requests through the firmware; returns the concatenated replies.
std::string Feed(UnitSettings& s, const std::string& bytes, int revision = 40) {
  std::string in = bytes, out;
  for (;;) {
    Step step = FirmwareTake(in, true, s, revision);
    if (step.Consumed == 0) break;
    out += step.Reply;
    in.erase(0, step.Consumed);
  }
  EXPECT_TRUE(in.empty()) << "left over: " << in.size() << " bytes";
  return out;
}
std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}
}  // namespace

TEST(UnitFirmware, SimpleWritesComeBackInTheirReads) {
  UnitSettings s = UnitSettings::Defaults();
  EXPECT_EQ(Feed(s, "wt" + Bytes({3, 2, 1})), "O");
  EXPECT_EQ(Feed(s, "rt"), "t" + Bytes({3, 4, 1}));  // start page comes back as index + 2
  Feed(s, "wd" + Bytes({20}) + "wm" + Bytes({2}) + "wp" + Bytes({3, 4}) + "wc" + Bytes({1, 0}));
  EXPECT_EQ(Feed(s, "rdrmrprc"),
            "d" + Bytes({20}) + "m" + Bytes({2}) + "p" + Bytes({3, 4}) + "c" + Bytes({1, 0}));
  Feed(s, "wh" + Bytes({10, 240}) + "ww" + Bytes({5, 147}) + "wx" + Bytes({250, 160}));
  EXPECT_EQ(Feed(s, "rh"), "h" + Bytes({10, 240}));
  EXPECT_EQ(Feed(s, "rw"), "w" + Bytes({5, 250, 147, 160, 0}));  // volts first, then ratios
  Feed(s, "wi" + Bytes({2, 1}));
  EXPECT_EQ(Feed(s, "ri"), "i" + Bytes({2, 1}));
  Feed(s, "wa" + Bytes({1, 0x1D, 0x4C}) + "wa" + Bytes({2, 212, 0}) + "wa" +
              Bytes({3, 0x07, 0xF5}) + "wa" + Bytes({4, 100, 0}));
  EXPECT_EQ(Feed(s, "ra"), "a" + Bytes({0x1D, 0x4C, 212, 0x07, 0xF5, 100}));
  EXPECT_EQ(s.RpmWarn, 7500);
  EXPECT_EQ(s.MapWarn, 2037);
}

TEST(UnitFirmware, ItemCodesAndCommits) {
  UnitSettings s;
  EXPECT_EQ(Feed(s, "we" + Bytes({1, 101}) + "we" + Bytes({56, 89}) + "weee"), "OOO");
  const std::string e = Feed(s, "re");
  ASSERT_EQ(e.size(), 57u);
  EXPECT_EQ(e[1], 101);
  EXPECT_EQ(e[56], 89);
  EXPECT_EQ(s.ItemCommits, 1);
  Feed(s, "we" + Bytes({57, 3}));  // no such place: acknowledged, nothing stored
  EXPECT_EQ(Feed(s, "re"), e);
}

TEST(UnitFirmware, SensorTablesAndLabels) {
  UnitSettings s;
  Feed(s, "s" + Bytes({1, 0, 51, 0}) + "s" +
              Bytes({5, 14, 0x01, 0x2C}));  // O2 row 0 volt, row 14 value
  Feed(s, "s" + Bytes({4, 3, 77, 0}) + "s" + Bytes({8, 3, 0x00, 0x64}));  // B6 row 3
  Feed(s, "s" + Bytes({9}) + "AFR" + "s" + Bytes({12}) + "X  ");
  Feed(s, "s" + Bytes({13, 1, 0}) + "s" + Bytes({14, 0, 1}) + "sssssss");
  EXPECT_EQ(s.SensorCommits, 1);
  const std::string rs = Feed(s, "rs");
  ASSERT_EQ(rs.size(), 107u);
  EXPECT_EQ(rs[1], 51);                                   // O2 row 0 volt
  EXPECT_EQ(rs.substr(16 + 28, 2), Bytes({0x01, 0x2C}));  // O2 row 14 value at 16 + 2*14
  EXPECT_EQ(rs.substr(91, 4), std::string("AFR") + '\x01');
  EXPECT_EQ(rs.substr(103, 4), std::string("X  ") + '\x01');
  EXPECT_EQ(rs[98], 0);  // S2Dec
  const std::string ru = Feed(s, "ru");
  ASSERT_EQ(ru.size(), 91u);
  EXPECT_EQ(static_cast<unsigned char>(ru[46 + 3]), 77);  // B6 row 3 volt
  EXPECT_EQ(ru.substr(61 + 6, 2), Bytes({0x00, 0x64}));
}

TEST(UnitFirmware, AnalogInputBlocks) {
  UnitSettings s;
  std::string block;
  for (int r = 0; r < 15; ++r) block += Bytes({r * 10, 0x10 + r, r});
  block += "MAF";
  block += Bytes({1});
  ASSERT_EQ(block.size(), 49u);
  EXPECT_EQ(Feed(s, "wz" + Bytes({5}) + block + "wzs"), "OO");
  EXPECT_EQ(s.AnalogCommits, 1);
  EXPECT_EQ(s.An[4].Table.Value[2], 0x1202);
  const std::string rz = Feed(s, "rz");
  ASSERT_EQ(rz.size(), 246u);
  EXPECT_EQ(rz.substr(197, 49), block);  // AN5 from payload byte 197
  Feed(s, "wz" + Bytes({6}) + block);    // no input 6: nothing changes
  EXPECT_EQ(Feed(s, "rz"), rz);
}

TEST(UnitFirmware, HelloKeysAndBootloaderEntry) {
  UnitSettings s;
  EXPECT_EQ(Feed(s, "VV", 0xC8), "NM\xC8");
  EXPECT_EQ(Feed(s, "<<>>++--==00"), "OOOOOO");
  // A lone "V" waits for a second byte until the line is quiet.
  EXPECT_EQ(FirmwareTake("V", false, s, 1).Consumed, 0u);
  EXPECT_EQ(FirmwareTake("V", true, s, 1).Reply, "NM\x01");
  Step esc = FirmwareTake("\x1B\x1B", false, s, 1);
  EXPECT_TRUE(esc.SwitchMode);
  EXPECT_EQ(esc.Reply, "O");
  // Partial requests wait; noise is skipped without a reply.
  EXPECT_EQ(FirmwareTake("wt\x01", false, s, 1).Consumed, 0u);
  EXPECT_EQ(FirmwareTake("wz\x01", false, s, 1).Consumed, 0u);
  Step noise = FirmwareTake("Q", false, s, 1);
  EXPECT_EQ(noise.Consumed, 1u);
  EXPECT_FALSE(noise.Request);
  EXPECT_EQ(FirmwareTake("rq", false, s, 1).Reply, "");
}

TEST(UnitBootloader, ProgrammerDialogue) {
  BootState st;
  auto take = [&](const std::string& in) {
    Step s = BootloaderTake(in, st);
    EXPECT_EQ(s.Consumed, in.size());
    return s.Reply;
  };
  EXPECT_EQ(take("S"), "VNTBOOT");
  EXPECT_EQ(take("V"), "22");
  EXPECT_EQ(take("b"), Bytes({'Y', 1, 0}));
  EXPECT_EQ(take("s"), Bytes({0x02, 0x97, 0x1E}));
  EXPECT_EQ(take("P"), "\r");
  EXPECT_TRUE(st.Programming);
  EXPECT_EQ(take("e"), "\r");
  EXPECT_EQ(st.Erases, 1);
  // Two blocks at word address 0x80: bytes 0x100 on, address auto-increments.
  std::string block(256, '\0');
  for (int i = 0; i < 256; ++i) block[static_cast<std::size_t>(i)] = static_cast<char>(i);
  EXPECT_EQ(take("A" + Bytes({0x00, 0x80})), "\r");
  EXPECT_EQ(take("B" + Bytes({0x01, 0x00}) + "F" + block), "\r");
  EXPECT_EQ(take("B" + Bytes({0x00, 0x03}) + "F" + "xyz"), "\r");
  EXPECT_EQ(st.Flash[0x100 + 255], 255);
  EXPECT_EQ(st.Flash[0x202], 'z');
  EXPECT_EQ(st.Flash[0x203], 0xFF);
  take("A" + Bytes({0x00, 0x80}));
  EXPECT_EQ(take("g" + Bytes({0x01, 0x00}) + "F"), block);
  // Oversized or out-of-range blocks are refused.
  EXPECT_EQ(take("B" + Bytes({0x01, 0x01}) + "F"), "?");
  take("A" + Bytes({0xFF, 0xFF}));
  EXPECT_EQ(take("g" + Bytes({0x00, 0x04}) + "F"), "?");
  EXPECT_EQ(take("L"), "\r");
  Step exit = BootloaderTake("E", st);
  EXPECT_TRUE(exit.SwitchMode);
  EXPECT_EQ(exit.Reply, "\r");
  // A whole block is awaited before anything happens.
  EXPECT_EQ(BootloaderTake("B" + Bytes({0x00, 0x10}) + "F" + "short", st).Consumed, 0u);
}
