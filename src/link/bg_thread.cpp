#include "link/bg_thread.h"

#include <QTimer>

#include "link/module_globals.h"
#include "link/super_serial.h"
#include "platform/qt/serial_ports.h"

BGThread::BGThread(SuperSerial& link, QObject* parent)
    : QObject(parent), link_(link), timer_(new QTimer(this)) {
  connect(timer_, &QTimer::timeout, this, &BGThread::Watch);
  connect(&detect_, &AutoDetect::Finished, this, &BGThread::OnDetected);
}

void BGThread::Run(int intervalMs) {
  timer_->start(intervalMs);
}

bool BGThread::IsRunning() const {
  return timer_->isActive();
}

void BGThread::Watch() {
  if (Spec::Quitting) {
    timer_->stop();
    return;
  }
  if (link_.Opened || detect_.Running()) return;
  const int count = platform::SerialPortCount();
  if (count == CurPorts) return;
  if (ListPorts) ListPorts();
  CurPorts = count;
  detect_.SetBaud(link_.Baud());
  detect_.Start();
}

void BGThread::OnDetected(bool found) {
  if (!found || Spec::Quitting) return;
  if (ListPorts) ListPorts();  // so the port list shows the unit's port
  link_.Connect();
}
