#include "unit/link_watch.h"

#include <gtest/gtest.h>

#include "link/packet.h"

namespace unit {
namespace {

// Every condition of the watchdog holds, the preview box is clear.
LinkWatchInputs PortGoneOnIdleLink() {
  LinkWatchInputs in;
  in.portCount = [] { return 2; };
  in.curPorts = 3;
  in.isConnected = true;
  in.linkIdle = true;
  in.dlSpeed = 7;
  return in;
}

const QueuedRequest Probe7{PacketTypeOK, std::string("wd") + '\x07'};
const QueuedRequest Preview{PacketTypeOK, "00"};

TEST(LinkWatch, ProbeOnlyWhenEveryConditionHolds) {
  EXPECT_EQ(LinkWatchRequests(PortGoneOnIdleLink()), std::vector<QueuedRequest>{Probe7});

  auto in = PortGoneOnIdleLink();
  in.portCount = [] { return 3; };  // nothing vanished
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in.portCount = [] { return 4; };  // an adapter was added, not removed
  EXPECT_TRUE(LinkWatchRequests(in).empty());

  in = PortGoneOnIdleLink();
  in.linkIdle = false;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in = PortGoneOnIdleLink();
  in.isConnected = false;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in = PortGoneOnIdleLink();
  in.pMode = true;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in = PortGoneOnIdleLink();
  in.upgrading = true;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
}

TEST(LinkWatch, PortsAreCountedOnlyWhenAProbeCouldGoOut) {
  // Counting walks the system's devices; twice a second on a closed or busy
  // link that is work for nothing.
  int counted = 0;
  auto in = PortGoneOnIdleLink();
  in.portCount = [&counted] {
    ++counted;
    return 2;
  };
  in.previewChecked = true;
  in.isConnected = false;
  LinkWatchRequests(in);
  in.isConnected = true;
  in.linkIdle = false;
  LinkWatchRequests(in);
  in.linkIdle = true;
  in.pMode = true;
  LinkWatchRequests(in);
  in.pMode = false;
  in.upgrading = true;
  LinkWatchRequests(in);
  EXPECT_EQ(counted, 0);
  in.upgrading = false;
  EXPECT_EQ(LinkWatchRequests(in).size(), 2u);
  EXPECT_EQ(counted, 1);
}

TEST(LinkWatch, ProbeCarriesTheSliderValue) {
  auto in = PortGoneOnIdleLink();
  in.dlSpeed = 20;
  EXPECT_EQ(LinkWatchRequests(in)[0].Final, std::string("wd") + '\x14');
}

TEST(LinkWatch, PreviewWhileCheckedOnAConnectedNormalLink) {
  LinkWatchInputs in;
  in.isConnected = true;
  in.previewChecked = true;
  EXPECT_EQ(LinkWatchRequests(in), std::vector<QueuedRequest>{Preview});
  // Busy or not: the preview does not wait for its earlier requests.
  in.linkIdle = false;
  EXPECT_EQ(LinkWatchRequests(in), std::vector<QueuedRequest>{Preview});

  in.previewChecked = false;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in.previewChecked = true;
  in.isConnected = false;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
}

TEST(LinkWatch, NothingWhileTheFirmwareOwnsTheLink) {
  // A preview queued behind the last firmware block would keep the queue from
  // draining, so the update would never leave the bootloader.
  auto in = PortGoneOnIdleLink();
  in.previewChecked = true;
  EXPECT_EQ(LinkWatchRequests(in), (std::vector<QueuedRequest>{Probe7, Preview}));
  in.upgrading = true;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
  in.upgrading = false;
  in.pMode = true;
  EXPECT_TRUE(LinkWatchRequests(in).empty());
}

}  // namespace
}  // namespace unit
