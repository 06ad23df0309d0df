// The packet queue against the simulated unit, through a real pty.
#include "link/super_serial.h"

#include "link/link_fixture.h"
#include "unitsim/unit_logic.h"

using unitsim::Fault;
using unitsim::FaultKind;

class SuperSerialTest : public LinkFixture {};

TEST_F(SuperSerialTest, HelloConnectsAndRecordsTheRevision) {
  unit.SetRevision(0xB4);
  Open();
  EXPECT_EQ(events, (std::vector<std::string>{"Connecting"}));
  EXPECT_FALSE(link.isConnected);
  link.AddPacket(PacketTypeHello, "VV");
  SendAndAwaitReply();
  EXPECT_TRUE(link.isConnected);
  EXPECT_FALSE(link.PMode);
  EXPECT_EQ(Spec::Revision, 0xB4);
  EXPECT_EQ(events, (std::vector<std::string>{"Connecting", "Connected"}));
  ASSERT_EQ(succeeded.size(), 1u);
  EXPECT_TRUE(succeeded[0]->Returned);
  EXPECT_EQ(succeeded[0]->Type, PacketTypeHello);
  EXPECT_EQ(link.CurrentPacket, nullptr);
}

TEST_F(SuperSerialTest, EveryReadLetterIsTakenWhole) {
  OpenAndGreet();
  const unitsim::UnitSettings settings = unit.Settings();
  for (char letter : std::string("tdmpcwiheasuz")) {
    SCOPED_TRACE(std::string(1, letter));
    link.AddPacket(PacketTypeRead, std::string("r") + letter);
    SendAndAwaitReply();
    const PacketRef p = succeeded.back();
    const std::string expected = unitsim::ReadReply(letter, settings);
    EXPECT_EQ(p->Header, std::string(1, letter));
    EXPECT_EQ(p->Response, expected.substr(1));
    EXPECT_EQ(p->FailCount, 0);
  }
  EXPECT_EQ(succeeded.size(), 13u);
}

TEST_F(SuperSerialTest, WritesAreAcknowledgedAndReachTheUnit) {
  OpenAndGreet();
  link.AddPacket(PacketTypeOK, std::string("wd\x07", 3));
  link.AddPacket(PacketTypeOK, std::string("wa\x01\x1D\x4C", 5));
  link.AddPacket(PacketTypeRead, "rd");
  SendAndAwaitReply();
  SendAndAwaitReply();
  SendAndAwaitReply();
  EXPECT_EQ(unit.Settings().Dimmer, 7);
  EXPECT_EQ(unit.Settings().RpmWarn, 7500);
  EXPECT_EQ(succeeded.back()->Response, "\x07");
  EXPECT_EQ(link.PacketCount(), 0);
}

TEST_F(SuperSerialTest, CarriageReturnRequestsInTheBootloader) {
  unit.EnterBootloader();
  OpenAndGreet();  // "22": the link queues "E" and "VV" behind the hello
  link.Packets.resize(1);
  link.AddPacket(PacketTypeCR, std::string("A\x00\x10", 3));
  link.AddPacket(PacketTypeCR, std::string("B\x00\x02"
                                           "F\xAB\xCD",
                                           6));
  SendAndAwaitReply();
  SendAndAwaitReply();
  EXPECT_EQ(unit.Flash()[0x20], 0xAB);
  EXPECT_EQ(unit.Flash()[0x21], 0xCD);
}

TEST_F(SuperSerialTest, WrongLetterIsRetriedAtOnce) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::WrongLetter});
  link.AddPacket(PacketTypeRead, "rd");
  link.SendNext();
  ASSERT_TRUE(unitsim::Await([&] { return link.CurrentPacket == nullptr; }));
  ASSERT_EQ(link.PacketCount(), 1);  // back at the head, not waiting for a time-out
  EXPECT_EQ(link.Packets[1]->FailCount, 1);
  EXPECT_TRUE(succeeded.empty());
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->FailCount, 1);
  EXPECT_EQ(unit.Requests(), (std::vector<std::string>{"rd", "rd"}));
}

TEST_F(SuperSerialTest, ShortReplyWaitsForTheTimeOutThenRetries) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::ShortReply, 1});
  link.AddPacket(PacketTypeRead, "rt");
  SendAndLetTimePass(60, 3);
  EXPECT_NE(link.CurrentPacket, nullptr) << "60 ticks are still within the time-out";
  clock.Advance(1);
  link.Poll();
  EXPECT_EQ(link.CurrentPacket, nullptr);
  ASSERT_EQ(link.PacketCount(), 1);
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->Response, unitsim::ReadReply('t', unit.Settings()).substr(1));
  EXPECT_EQ(succeeded.back()->FailCount, 1);
}

TEST_F(SuperSerialTest, CarriageReturnTimeOutsAreShorterExceptForErase) {
  unit.EnterBootloader();
  OpenAndGreet();
  link.Packets.resize(1);
  unit.QueueFault({FaultKind::NoReply});
  unit.QueueFault({FaultKind::NoReply});
  link.AddPacket(PacketTypeCR, std::string("A\x00\x00", 3));
  SendAndLetTimePass(21);
  EXPECT_EQ(link.CurrentPacket, nullptr);
  link.Packets.resize(1);
  link.AddPacket(PacketTypeCR, "e");
  SendAndLetTimePass(120);
  EXPECT_NE(link.CurrentPacket, nullptr);
  clock.Advance(1);
  link.Poll();
  EXPECT_EQ(link.CurrentPacket, nullptr);
}

TEST_F(SuperSerialTest, SixthFailureDropsTheQueueAndSaysWhich) {
  OpenAndGreet();
  for (int i = 0; i < 6; ++i) unit.QueueFault({FaultKind::NoReply});
  link.AddPacket(PacketTypeOK, std::string("wd\x03", 3));
  link.AddPacket(PacketTypeRead, "rd");
  for (int attempt = 1; attempt <= 6; ++attempt) {
    SCOPED_TRACE(attempt);
    ASSERT_TRUE(dropped.empty());
    SendAndLetTimePass(61);
    EXPECT_EQ(link.CurrentPacket, nullptr);
  }
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0]->Final, std::string("wd\x03", 3));
  EXPECT_EQ(dropped[0]->FailCount, 6);
  EXPECT_EQ(link.PacketCount(), 0);
  EXPECT_TRUE(link.Opened);  // only a failed hello closes the link
  EXPECT_TRUE(link.isConnected);
  EXPECT_TRUE(succeeded.empty());
  EXPECT_EQ(unit.RequestCount(), 6u);  // "rd" never went out
  // The link is usable again, and a reply now matches only the new request.
  link.AddPacket(PacketTypeRead, "rm");
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->Header, "m");
}

TEST_F(SuperSerialTest, FailedHelloClosesTheLink) {
  Open();
  for (int i = 0; i < 6; ++i) unit.QueueFault({FaultKind::NoReply});
  link.AddPacket(PacketTypeHello, "VV");
  for (int attempt = 1; attempt <= 6; ++attempt) SendAndLetTimePass(61);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0]->Type, PacketTypeHello);
  EXPECT_FALSE(link.Opened);
  EXPECT_FALSE(link.isConnected);
  EXPECT_EQ(events, (std::vector<std::string>{"Connecting", "Disconnected"}));
}

TEST_F(SuperSerialTest, BeforeTheHelloOnlyHellosGoOut) {
  Open();
  link.AddPacket(PacketTypeOK, std::string("wd\x01", 3));
  link.AddPacket(PacketTypeRead, "rd");
  link.SendNext();
  EXPECT_EQ(link.PacketCount(), 0);
  EXPECT_EQ(link.CurrentPacket, nullptr);

  // A hello at the head goes out, and what follows it waits its turn.
  link.AddPacket(PacketTypeHello, "VV");
  link.AddPacket(PacketTypeRead, "rd");
  SendAndAwaitReply();
  ASSERT_EQ(link.PacketCount(), 1);
  SendAndAwaitReply();
  EXPECT_EQ(unit.Requests(), (std::vector<std::string>{"VV", "rd"}));
  EXPECT_EQ(unit.Settings().Dimmer, 10);  // the dropped write never arrived
  EXPECT_TRUE(dropped.empty());           // emptying an unconnected queue is not a failure
}

TEST_F(SuperSerialTest, BootloaderAnswerSendsTheUnitBackAndGreetsAgain) {
  unit.EnterBootloader();
  unit.SetRevisionAfterUpdate(42);
  Open();
  link.AddPacket(PacketTypeHello, "VV");
  SendAndAwaitReply();
  EXPECT_TRUE(link.PMode);
  EXPECT_TRUE(link.isConnected);
  ASSERT_EQ(link.PacketCount(), 2);
  EXPECT_EQ(link.Packets[1]->Type, PacketTypeCR);
  EXPECT_EQ(link.Packets[1]->Final, "E");
  EXPECT_EQ(link.Packets[2]->Type, PacketTypeHello);
  EXPECT_EQ(link.Packets[2]->Final, "VV");
  SendAndAwaitReply();
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  SendAndAwaitReply();
  EXPECT_FALSE(link.PMode);
  EXPECT_EQ(Spec::Revision, 42);
  EXPECT_EQ(link.PacketCount(), 0);
}

TEST_F(SuperSerialTest, BootloaderAnswerOnAConnectedLinkQueuesNothing) {
  OpenAndGreet();
  link.AddPacket(PacketTypeOK, "\x1B\x1B");
  link.AddPacket(PacketTypeHello, "V");
  SendAndAwaitReply();
  SendAndAwaitReply();
  EXPECT_TRUE(link.PMode);
  EXPECT_EQ(link.PacketCount(), 0);
}

TEST_F(SuperSerialTest, ALateReplyWithinTheTimeOutIsTaken) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::Delay, 150});
  link.AddPacket(PacketTypeRead, "rm");
  SendAndLetTimePass(59);
  ASSERT_TRUE(unitsim::Await([&] { return !succeeded.empty(); }));
  EXPECT_EQ(succeeded.back()->FailCount, 0);
}

TEST_F(SuperSerialTest, InputAfterAnAcceptedReplyIsDiscarded) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::ExtraBytes, 40});
  link.AddPacket(PacketTypeRead, "rd");
  link.AddPacket(PacketTypeOK, std::string("wd\x04", 3));
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->Response.size(), 1u);
  // Had the junk stayed, the write's "O" would be preceded by "X"s and fail.
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->FailCount, 0);
}

TEST_F(SuperSerialTest, ItemCodesMayArriveInPiecesWithinFiftyTicks) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::Split, 0});
  link.AddPacket(PacketTypeRead, "re");
  SendAndLetTimePass(40);
  unit.ReleaseHeld(1);  // the letter comes 40 ticks after the request
  AwaitReplyBytes(1);
  clock.Advance(45);  // 85 ticks after the request: past the usual 60
  link.Poll();
  ASSERT_NE(link.CurrentPacket, nullptr);
  unit.ReleaseHeld();
  ASSERT_TRUE(unitsim::Await([&] { return !succeeded.empty(); }));
  EXPECT_EQ(succeeded.back()->Response.size(), 56u);
  EXPECT_EQ(succeeded.back()->FailCount, 0);
}

TEST_F(SuperSerialTest, ItemCodesNotWholeFiftyTicksAfterTheLetterAreRetried) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::Split, 10});
  link.AddPacket(PacketTypeRead, "re");
  SendAndLetTimePass(50, 10);
  EXPECT_NE(link.CurrentPacket, nullptr);
  clock.Advance(1);
  link.Poll();
  EXPECT_EQ(link.CurrentPacket, nullptr);
  ASSERT_EQ(link.PacketCount(), 1);
  EXPECT_EQ(link.Packets[1]->FailCount, 1);
  unit.ReleaseHeld();  // the late rest must not be taken for the next try
  SendAndAwaitReply();
  EXPECT_EQ(succeeded.back()->Response, unitsim::ReadReply('e', unit.Settings()).substr(1));
}

TEST_F(SuperSerialTest, UnplugWhileARequestIsOutstanding) {
  OpenAndGreet();
  unit.QueueFault({FaultKind::NoReply});
  link.AddPacket(PacketTypeRead, "rd");
  link.AddPacket(PacketTypeRead, "rm");
  link.SendNext();
  ASSERT_TRUE(unit.WaitForRequests(1));
  unit.Unplug();
  ASSERT_TRUE(unitsim::Await([&] { return !link.Opened; }));
  EXPECT_EQ(events, (std::vector<std::string>{"Disconnected"}));
  EXPECT_FALSE(link.isConnected);
  // The outstanding request runs out its time; with the link down the queue
  // is then emptied, quietly.
  clock.Advance(61);
  link.Poll();
  link.SendNext();
  EXPECT_EQ(link.CurrentPacket, nullptr);
  EXPECT_EQ(link.PacketCount(), 0);
  EXPECT_TRUE(succeeded.empty());
}

TEST_F(SuperSerialTest, ConnectWaitsMoreThanTwentyTicksWithoutBlocking) {
  link.Connect();
  EXPECT_TRUE(link.IsWaitingToOpen());
  clock.Advance(20);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
  EXPECT_FALSE(link.Opened);
  link.Connect();  // a second call while waiting changes nothing
  clock.Advance(1);
  ASSERT_TRUE(unitsim::Await([&] { return link.Opened; }));
  EXPECT_FALSE(link.IsWaitingToOpen());
  EXPECT_EQ(events, (std::vector<std::string>{"Connecting"}));
  link.Connect();  // already open: nothing
  EXPECT_FALSE(link.IsWaitingToOpen());
}

TEST_F(SuperSerialTest, ConnectToAMissingPortRaisesNothing) {
  for (const std::string name : {"", "ttyNothere", "None"}) {
    Spec::DataPort = name;
    link.Connect();
    EXPECT_FALSE(link.IsWaitingToOpen()) << name;
  }
  // Listed, but the device is gone.
  platform::AddExtraSerialPort("ttyGone", "/dev/pts/no-such-pty");
  Spec::DataPort = "ttyGone";
  link.Connect();
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return !link.IsWaitingToOpen(); }));
  EXPECT_FALSE(link.Opened);
  EXPECT_TRUE(events.empty());
}

TEST_F(SuperSerialTest, DisconnectOnlyWhenOpen) {
  link.Disconnect();
  EXPECT_TRUE(events.empty());
  OpenAndGreet();
  link.Disconnect();
  EXPECT_FALSE(link.Opened);
  EXPECT_FALSE(link.isConnected);
  EXPECT_EQ(events, (std::vector<std::string>{"Disconnected"}));
  link.Disconnect();
  EXPECT_EQ(events.size(), 1u);
}
