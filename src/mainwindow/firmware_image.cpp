#include "mainwindow/firmware_image.h"

#include "platform/qt/resource.h"

const std::string& VA2Firmware() {
  static const std::string image = platform::ReadResource(":/firmware/VA2Firmware.bin");
  return image;
}
