#include "link/super_serial.h"

#include <QSerialPort>
#include <QSignalBlocker>
#include <QTimer>

#include "link/module_globals.h"
#include "link/reply_match.h"
#include "platform/qt/serial_ports.h"
#include "platform/ticks.h"

namespace {
// The unit takes a moment after its port appears before it listens; Connect
// waits more than this many ticks before opening.
constexpr std::int64_t kOpenDelayTicks = 20;
constexpr int kConnectCheckMs = 10;
}  // namespace

SuperSerial::SuperSerial(QObject* parent)
    : QObject(parent), port_(new QSerialPort(this)), connectTimer_(new QTimer(this)) {
  connect(port_, &QSerialPort::readyRead, this, &SuperSerial::OnDataAvailable);
  connect(port_, &QSerialPort::errorOccurred, this,
          [this](QSerialPort::SerialPortError e) { OnPortError(static_cast<int>(e)); });
  connectTimer_->setInterval(kConnectCheckMs);
  connect(connectTimer_, &QTimer::timeout, this, &SuperSerial::OnConnectWait);
}

SuperSerial::~SuperSerial() {
  connectTimer_->stop();
  if (port_->isOpen()) port_->close();
}

void SuperSerial::AddPacket(int type, const std::string& text) {
  auto p = std::make_shared<Packet>();
  p->Type = type;
  p->Final = text;
  Packets.push_back(std::move(p));
}

// One request outstanding at a time. A link that has not heard a hello yet
// only lets hellos through; anything else queued meanwhile is thrown away,
// so handlers may queue without checking the link.
void SuperSerial::SendNext() {
  if (CurrentPacket || PacketCount() == 0) return;
  if (!isConnected && Packets[1]->Type != PacketTypeHello) {
    Packets.resize(1);
    return;
  }
  PacketRef p = Packets[1];
  Packets.erase(Packets.begin() + 1);
  CurrentPacket = p;
  DiscardInput();
  p->Sent = platform::Ticks();
  p->Returned = false;
  if (port_->isOpen()) {
    port_->write(p->Final.data(), static_cast<qint64>(p->Final.size()));
    port_->flush();
  }
}

void SuperSerial::Poll() {
  // Pulls whatever the port holds right now; readyRead hands it on.
  if (port_->isOpen()) port_->waitForReadyRead(0);
  CheckTimeout();
}

void SuperSerial::OnDataAvailable() {
  const QByteArray bytes = port_->readAll();
  if (!CurrentPacket) return;  // nobody asked: stray bytes mean nothing
  input_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  if (input_.empty()) return;
  if (letterAt_ < 0) letterAt_ = platform::Ticks();
  const PacketRef p = CurrentPacket;
  const wire::ReplyMatch m = wire::MatchReply(p->Type, p->Final, input_);
  if (m.State == wire::ReplyState::Accepted) {
    Accept(p, m.Bootloader, m.Revision, m.Header, m.Response);
  } else if (m.State == wire::ReplyState::Mismatch) {
    Fail();
  }
}

void SuperSerial::Accept(const PacketRef& p, bool bootloader, int revision,
                         const std::string& header, const std::string& response) {
  CurrentPacket.reset();
  DiscardInput();
  p->Returned = true;
  if (p->Type == PacketTypeRead) {
    p->Header = header;
    p->Response = response;
  }
  const bool hello = p->Type == PacketTypeHello;
  if (hello) {
    if (bootloader) {
      PMode = true;
      // A unit found in its bootloader is sent back to its firmware and
      // greeted again, unless its firmware may be half written.
      if (!isConnected && ExitBootloaderOnConnect) {
        AddPacket(PacketTypeCR, "E");
        AddPacket(PacketTypeHello, "VV");
      }
    } else {
      PMode = false;
      Spec::Revision = revision;
    }
    isConnected = true;
    emit Connected();
  }
  emit PacketSucceeded(p);
}

// A failed request goes back to the head of the queue for another try. After
// its last try the whole queue goes: what follows it likely depends on it.
void SuperSerial::Fail() {
  PacketRef p = CurrentPacket;
  CurrentPacket.reset();
  DiscardInput();
  ++p->FailCount;
  if (p->FailCount < wire::kMaxTries) {
    Packets.insert(Packets.begin() + 1, p);
    return;
  }
  Packets.resize(1);
  emit QueueDropped(p);
  if (p->Type == PacketTypeHello) Disconnect();
}

void SuperSerial::CheckTimeout() {
  if (!CurrentPacket) return;
  const std::int64_t now = platform::Ticks();
  const PacketRef& p = CurrentPacket;
  if (letterAt_ >= 0 && wire::WaitsForPieces(p->Type, p->Final)) {
    if (now - letterAt_ > wire::kPieceWaitTicks) Fail();
    return;
  }
  if (now - p->Sent > wire::TimeoutTicks(p->Type, p->Final)) Fail();
}

void SuperSerial::DiscardInput() {
  input_.clear();
  letterAt_ = -1;
  if (!port_->isOpen()) return;
  // Also what the system holds but the port object has not read yet.
  {
    const QSignalBlocker quiet(port_);
    port_->waitForReadyRead(0);
    port_->readAll();
  }
  if (port_->error() != QSerialPort::NoError) OnPortError(static_cast<int>(port_->error()));
}

void SuperSerial::Connect() {
  if (Opened || connectPending_) return;
  if (Spec::DataPort.empty()) return;
  std::string location;
  for (const auto& entry : platform::SerialPorts()) {
    if (entry.Name == Spec::DataPort) {
      location = entry.Location;
      break;
    }
  }
  if (location.empty()) return;
  openLocation_ = location;
  openRequestedAt_ = platform::Ticks();
  connectPending_ = true;
  connectTimer_->start();
}

void SuperSerial::OnConnectWait() {
  if (platform::Ticks() - openRequestedAt_ <= kOpenDelayTicks) return;
  connectTimer_->stop();
  connectPending_ = false;
  if (Opened) return;
  if (!platform::OpenSerialPort(*port_, openLocation_, baud_)) return;
  Opened = true;
  emit Connecting();
}

void SuperSerial::Disconnect() {
  if (!Opened) return;
  port_->close();
  Opened = false;
  isConnected = false;
  // A closed port never answers the request it was waiting on, and what was
  // queued for this connection means nothing to the next one. Left in place,
  // the old request would time out after the next Connect had queued its
  // hello and, failing on a link that is not connected yet, take that hello
  // down with the rest of the old queue: the link would sit at "Connecting"
  // for good.
  CurrentPacket.reset();
  Packets.resize(1);
  DiscardInput();
  emit Disconnected();
}

void SuperSerial::SetBaud(int baud) {
  baud_ = baud;
  if (port_->isOpen()) port_->setBaudRate(baud);
}

// A vanished port (the adapter unplugged) closes the link. Closing is queued
// so the port is not torn down inside its own signal.
void SuperSerial::OnPortError(int error) {
  switch (static_cast<QSerialPort::SerialPortError>(error)) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
      QTimer::singleShot(0, this, [this] {
        if (Opened) Disconnect();
      });
      break;
    default:
      break;
  }
}
