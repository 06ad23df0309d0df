#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Vantora II");
  window.resize(800, 560);
  window.show();
  return app.exec();
}
