#include <QApplication>

#include "mainwindow/lcdprog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  LCDProg window;
  window.show();
  return app.exec();
}
