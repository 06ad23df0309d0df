#include "link/auto_detect.h"

#include <QSerialPort>
#include <QTimer>

#include "link/module_globals.h"
#include "link/packet.h"
#include "link/reply_match.h"
#include "platform/ticks.h"

namespace {
const std::string kHello = "VV";
constexpr int kCheckMs = 10;
}  // namespace

AutoDetect::AutoDetect(QObject* parent)
    : QObject(parent), port_(new QSerialPort(this)), timer_(new QTimer(this)) {
  connect(port_, &QSerialPort::readyRead, this, &AutoDetect::OnData);
  timer_->setInterval(kCheckMs);
  connect(timer_, &QTimer::timeout, this, &AutoDetect::OnTick);
}

AutoDetect::~AutoDetect() {
  if (port_->isOpen()) port_->close();
}

void AutoDetect::Start() {
  if (running_) return;
  running_ = true;
  Spec::Detecting = true;
  Spec::Detected = false;
  ports_ = platform::SerialPorts();
  next_ = 0;
  // Queued, so a caller's own bookkeeping finishes before the first probe.
  QTimer::singleShot(0, this, &AutoDetect::ProbeNext);
}

// Ports that cannot be opened (busy, gone, no permission) are skipped.
void AutoDetect::ProbeNext() {
  while (next_ < ports_.size()) {
    const platform::SerialPortEntry& entry = ports_[next_];
    if (!platform::OpenSerialPort(*port_, entry.Location, baud_)) {
      ++next_;
      continue;
    }
    input_.clear();
    sentAt_ = platform::Ticks();
    port_->write(kHello.data(), static_cast<qint64>(kHello.size()));
    port_->flush();
    timer_->start();
    return;
  }
  Finish(false);
}

std::string AutoDetect::Probing() const {
  if (!running_ || !port_->isOpen() || next_ >= ports_.size()) return std::string();
  return ports_[next_].Name;
}

void AutoDetect::OnData() {
  if (!running_ || !port_->isOpen()) return;
  const QByteArray bytes = port_->readAll();
  input_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  const wire::ReplyMatch m = wire::MatchReply(PacketTypeHello, kHello, input_);
  if (m.State == wire::ReplyState::Accepted) {
    Spec::DataPort = ports_[next_].Name;
    Spec::Detected = true;
    EndProbe();
    Finish(true);
  } else if (m.State == wire::ReplyState::Mismatch) {
    EndProbe();
    ++next_;
    QTimer::singleShot(0, this, &AutoDetect::ProbeNext);
  }
}

void AutoDetect::OnTick() {
  if (!port_->isOpen()) return;
  port_->waitForReadyRead(0);
  if (!port_->isOpen() || !running_) return;
  if (platform::Ticks() - sentAt_ <= wire::kReplyTimeoutTicks) return;
  EndProbe();
  ++next_;
  ProbeNext();
}

void AutoDetect::EndProbe() {
  timer_->stop();
  if (port_->isOpen()) port_->close();
}

void AutoDetect::Finish(bool found) {
  running_ = false;
  Spec::Detecting = false;
  emit Finished(found);
}
