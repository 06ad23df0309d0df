// The port pop-up on the COM page.
#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/serial_ports.h"

void LCDProg::port_Open() {
  ListPorts();
}

void LCDProg::port_Change() {
  Spec::DataPort = port.Text();
}

// A remembered port that is gone stays listed and selected, so that a refill
// after it comes back selects the real row again and the choice survives.
void LCDProg::ListPorts() {
  // Emptying the list selects nothing and leaves Spec::DataPort alone.
  const std::string remembered = Spec::DataPort;
  port.DeleteAllRows();
  bool found = false;
  port.AddRow("None");
  if (remembered == "None") {
    port.SetListIndex(0);
    found = true;
  }
  for (const platform::SerialPortEntry& entry : platform::SerialPorts()) {
    port.AddRow(entry.Name);
    if (entry.Name == remembered) {
      port.SetListIndex(port.ListCount() - 1);
      found = true;
    }
  }
  if (!found && !remembered.empty()) {
    port.AddRow(remembered);
    port.SetListIndex(port.ListCount() - 1);
  }
}
