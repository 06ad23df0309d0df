#include "mainwindow/firmware_image.h"

#include <QFile>

const std::string& VA2Firmware() {
  static const std::string image = [] {
    QFile file(":/firmware/VA2Firmware.bin");
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }();
  return image;
}
