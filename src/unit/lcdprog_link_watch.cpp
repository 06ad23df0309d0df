// Timer2: the link watchdog and the layout preview.
#include "link/bg_thread.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/serial_ports.h"
#include "unit/link_watch.h"

void LCDProg::Timer2_Action() {
  unit::LinkWatchInputs in;
  in.portCount = [] { return platform::SerialPortCount(); };
  // Without the port watch nothing has counted the ports, so none can have
  // vanished since.
  in.curPorts = PortWatch ? PortWatch->CurPorts : 0;
  in.isConnected = Sline.isConnected;
  in.pMode = Sline.PMode;
  in.upgrading = FirmwareUnderway;
  in.linkIdle = Sline.IsIdle();
  in.previewChecked = Preview.Value();
  in.dlSpeed = DLSlider.Value();
  for (const unit::QueuedRequest& r : unit::LinkWatchRequests(in)) Sline.AddPacket(r.Type, r.Final);
}
