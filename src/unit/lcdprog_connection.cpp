// The bottom bar's buttons that follow the link's state.
#include "mainwindow/lcdprog.h"

void LCDProg::UpdateButtons(bool enabled) {
  LeftC.SetEnabled(enabled);
  RightC.SetEnabled(enabled);
  UpC.SetEnabled(enabled);
  DownC.SetEnabled(enabled);
  EnterC.SetEnabled(enabled);
  ReadBut.SetEnabled(enabled);
  WriteBut.SetEnabled(enabled);
}
