// Saves a picture of each of the main window's six pages, for the screenshot
// script. Not part of the program: it runs the program's own start-up and
// switches pages through MainBox as the user would.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "app/startup.h"
#include "mainwindow/lcdprog.h"

int main(int argc, char** argv) {
  QApplication framework(argc, argv);
  QApplication::setApplicationName("Vantora II");
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);
  const char* const names[] = {"1-main",    "2-layout",   "3-settings",
                               "4-sensors", "5-sensors2", "6-com"};
  bool saved = true;
  const int result = RunApplication([&](const char* step) {
    if (QString(step) != "_MakeDefaultView") return;
    QTimer::singleShot(500, [&] {
      LCDProg* window = LCDProg::Current();
      for (int page = 0; page < 6; ++page) {
        window->MainBox.SetListIndex(page);
        QApplication::processEvents();
        const QString file = QString("%1/%2.png").arg(out, names[page]);
        if (!window->grab().save(file)) {
          std::fprintf(stderr, "could not save %s\n", qPrintable(file));
          saved = false;
        }
        // A closed pop-up shows one row at most: each pop-up of the page
        // that has rows is also taken with its list open.
        for (platform::Control* control : window->Controls()) {
          auto* popup = dynamic_cast<platform::PopupMenu*>(control);
          if (popup == nullptr || popup->ListCount() == 0 ||
              popup->Widget()->parentWidget() != window->Pages.Panel(page)) {
            continue;
          }
          auto* combo = qobject_cast<QComboBox*>(popup->Widget());
          combo->showPopup();
          QApplication::processEvents();
          const QString name = QString::fromStdString(popup->Name()) +
                               (popup->Index() >= 0 ? QString::number(popup->Index()) : "");
          const QString list = QString("%1/%2-%3.png").arg(out, names[page], name);
          if (!QApplication::primaryScreen()
                   ->grabWindow(0, window->x(), window->y(), window->frameGeometry().width(),
                                window->frameGeometry().height())
                   .save(list))
            saved = false;
          combo->hidePopup();
          QApplication::processEvents();
        }
      }
      window->close();
    });
  });
  return result != 0 || !saved ? 1 : 0;
}
