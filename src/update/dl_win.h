#pragma once
// The download's progress window: a small floating window titled "Update"
// with a bar and one line of text, which the user can neither close, resize
// nor minimise. DLWin() opens it on first use and hands out the same window
// while it stays open; CloseDLWin() takes it away, and the next DLWin() opens
// a fresh one.
#include <QWidget>

#include "platform/qt/controls.h"

class DLWindow : public QWidget {
  Q_OBJECT

 public:
  DLWindow();
  ~DLWindow() override;

  platform::ProgressBar progress{"progress"};
  platform::StaticText Prog{"Prog"};
};

DLWindow& DLWin();
// Whether the window is open, without opening it.
bool DLWinIsOpen();
void CloseDLWin();
