#pragma once
// The background port watch. While the link is closed it notices when the
// number of serial ports changes (an adapter plugged in or pulled out),
// refreshes the window's port list, looks for the unit on the ports and
// connects to it. It runs on a main-thread timer, so it never runs at the
// same time as the window's handlers and needs no locks.
#include <QObject>
#include <functional>

#include "link/auto_detect.h"

class QTimer;
class SuperSerial;

class BGThread : public QObject {
  Q_OBJECT

 public:
  explicit BGThread(SuperSerial& link, QObject* parent = nullptr);

  // Starts watching, one look every `intervalMs`; stops when Spec::Quitting is set.
  void Run(int intervalMs = 500);
  bool IsRunning() const;
  // One look at the ports (what the timer does).
  void Watch();

  // The port count the watch last took; 0 at start.
  int CurPorts = 0;
  // Refreshes the window's port list; the window fills it in.
  std::function<void()> ListPorts;

  AutoDetect& Detector() { return detect_; }

 private:
  void OnDetected(bool found);

  SuperSerial& link_;
  QTimer* timer_;
  AutoDetect detect_;
};
