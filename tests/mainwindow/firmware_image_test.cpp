// The built-in firmware image is the source file, byte for byte.
#include <gtest/gtest.h>
#include <QFile>

#include "mainwindow/firmware_image.h"

TEST(FirmwareImageTest, ResourceBytesEqualTheSourceFile) {
  QFile source(VANTORA_FIRMWARE_IMAGE_PATH);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();
  ASSERT_FALSE(bytes.isEmpty());
  const std::string& image = VA2Firmware();
  EXPECT_EQ(image, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  // Loaded once and kept.
  EXPECT_EQ(&VA2Firmware(), &image);
}
