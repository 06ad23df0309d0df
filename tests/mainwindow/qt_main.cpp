// Widget tests need one QApplication for the whole run.
#include <gtest/gtest.h>
#include <QApplication>

#include "platform/qt/http_socket.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Every window asks the update server as it opens; in tests only those
  // that serve it one say the network is up.
  platform::HTTPSocket::SetNetworkCheck([] { return false; });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
