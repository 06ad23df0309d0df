#pragma once
// Finds the unit by asking every serial port in turn for its hello: the
// first port that answers "NM" + revision (firmware) or "22" (bootloader)
// becomes Spec::DataPort. Runs on the event loop; never blocks.
#include <QObject>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qt/serial_ports.h"

class QSerialPort;
class QTimer;

class AutoDetect : public QObject {
  Q_OBJECT

 public:
  explicit AutoDetect(QObject* parent = nullptr);
  ~AutoDetect() override;

  // Probes the system's ports as they are listed now. Ignored while running.
  void Start();
  bool Running() const { return running_; }
  void SetBaud(int baud) { baud_ = baud; }
  // Name of the port waiting for its answer now; empty between probes.
  std::string Probing() const;

 signals:
  // found: a port answered and Spec::DataPort names it.
  void Finished(bool found);

 private:
  void ProbeNext();
  void OnData();
  void OnTick();
  void EndProbe();
  void Finish(bool found);

  QSerialPort* port_;
  QTimer* timer_;  // checks the probe's time-out
  std::vector<platform::SerialPortEntry> ports_;
  std::size_t next_ = 0;
  std::string input_;
  std::int64_t sentAt_ = 0;
  int baud_ = 921600;
  bool running_ = false;
};
