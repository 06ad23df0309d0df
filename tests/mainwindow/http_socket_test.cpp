// The HTTP control against a small server on 127.0.0.1: pages with their
// status, downloads with progress into a file written whole, and requests
// that get no answer.
#include <gtest/gtest.h>
#include <QByteArray>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "mainwindow/local_http_server.h"
#include "platform/qt/http_socket.h"
#include "unitsim/hang_guard.h"

using platform::HTTPSocket;
using platform::InternetHeaders;

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(HTTPSocketTest, PagesArriveWithTheirStatusWhateverItIs) {
  LocalHttpServer server;
  server.routes["/vantora2.ver"] = {"200 OK", "1402151\n"};
  HTTPSocket socket("VersSocket");
  std::vector<std::tuple<std::string, int, std::string>> pages;
  std::string header;
  socket.PageReceived.Bind(
      [&](const std::string& url, int status, const InternetHeaders& h, const std::string& c) {
        pages.emplace_back(url, status, c);
        for (const auto& [k, v] : h) {
          if (k == "X-Test") header = v;
        }
      });
  socket.Get(server.Url("/vantora2.ver"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages.size() == 1; }, unitsim::kHangGuardMs));
  EXPECT_EQ(pages[0], std::make_tuple(server.Url("/vantora2.ver"), 200, std::string("1402151\n")));
  EXPECT_EQ(header, "yes");
  socket.Get(server.Url("/nothing"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pages.size() == 2; }, unitsim::kHangGuardMs));
  EXPECT_EQ(std::get<1>(pages[1]), 404);
  EXPECT_EQ(std::get<2>(pages[1]), "missing");
  EXPECT_FALSE(socket.Busy());
}

TEST(HTTPSocketTest, DownloadReportsProgressAndWritesTheWholeFile) {
  LocalHttpServer server;
  QByteArray archive(300000, '\0');
  for (int i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7);
  server.routes["/VAII.zip"] = {"200 OK", archive};
  QTemporaryDir dir;
  const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "VAII.zip";
  HTTPSocket socket("VersSocket");
  int last = 0, total = 0, progressEvents = 0;
  std::filesystem::path done;
  socket.ReceiveProgress.Bind([&](int received, int all, const std::string&) {
    EXPECT_GE(received, last);
    last = received;
    total = all;
    ++progressEvents;
    // While bytes arrive, nothing is at the final name yet.
    EXPECT_FALSE(std::filesystem::exists(file));
  });
  socket.DownloadComplete.Bind(
      [&](const std::string&, int status, const InternetHeaders&, const std::filesystem::path& f) {
        EXPECT_EQ(status, 200);
        done = f;
      });
  socket.Get(server.Url("/VAII.zip"), file);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !done.empty(); }, unitsim::kHangGuardMs));
  EXPECT_EQ(done, file);
  EXPECT_GE(progressEvents, 1);
  EXPECT_EQ(total, archive.size());
  EXPECT_EQ(ReadAll(file), archive.toStdString());
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".part"));
}

TEST(HTTPSocketTest, NoAnswerRaisesErrorAndLeavesNoFile) {
  quint16 port = 0;
  {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    port = closed.serverPort();
  }
  QTemporaryDir dir;
  const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "x.zip";
  HTTPSocket socket("VersSocket");
  int completions = 0;
  std::string error;
  socket.DownloadComplete.Bind([&](const std::string&, int, const InternetHeaders&,
                                   const std::filesystem::path&) { ++completions; });
  socket.Error.Bind([&](const std::string& reason) { error = reason; });
  socket.Get("http://127.0.0.1:" + std::to_string(port) + "/x.zip", file);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !error.empty(); }, unitsim::kHangGuardMs));
  EXPECT_EQ(completions, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path().toStdString()));

  // A file that cannot be created is an error before anything is asked.
  error.clear();
  socket.Get("http://127.0.0.1:1/x", std::filesystem::path(dir.path().toStdString()) / "no" / "x");
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(socket.Busy());
}

// The server answers but the answer never arrives whole: cut off, gone
// silent, or a page far larger than any the program asks for. None of them
// may pass for an answer, and nothing is left on disk.
TEST(HTTPSocketTest, AnswersThatNeverArriveWholeRaiseError) {
  LocalHttpServer server;
  const QByteArray archive(100000, 'z');
  LocalHttpServer::Answer cut{"200 OK", archive};
  cut.cutAfter = 40000;
  LocalHttpServer::Answer silent = cut;
  silent.stall = true;
  server.routes["/cut.zip"] = cut;
  server.routes["/silent.zip"] = silent;
  server.routes["/huge.ver"] = {"200 OK", QByteArray(3 * 1024 * 1024, '1')};
  // Silence counts as the end a little sooner than in the program.
  struct ShortStallLimit {
    std::chrono::milliseconds previous = HTTPSocket::SetStallLimit(std::chrono::milliseconds(300));
    ~ShortStallLimit() { HTTPSocket::SetStallLimit(previous); }
  } shortLimit;
  QTemporaryDir dir;
  const std::filesystem::path folder = dir.path().toStdString();
  struct Case {
    const char* path;
    bool download;
  };
  for (const Case& c : {Case{"/cut.zip", true}, Case{"/silent.zip", true}, {"/huge.ver", false}}) {
    SCOPED_TRACE(c.path);
    HTTPSocket socket("VersSocket");
    int answers = 0;
    std::string error;
    socket.PageReceived.Bind(
        [&](const std::string&, int, const InternetHeaders&, const std::string&) { ++answers; });
    socket.DownloadComplete.Bind([&](const std::string&, int, const InternetHeaders&,
                                     const std::filesystem::path&) { ++answers; });
    socket.Error.Bind([&](const std::string& reason) { error = reason; });
    if (c.download) {
      socket.Get(server.Url(c.path), folder / "x.zip");
    } else {
      socket.Get(server.Url(c.path));
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !error.empty() || answers > 0; }, unitsim::kHangGuardMs));
    EXPECT_EQ(answers, 0);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(socket.Busy());
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
}

TEST(HTTPSocketTest, NetworkCheckCanBeReplaced) {
  auto previous = HTTPSocket::SetNetworkCheck([] { return false; });
  EXPECT_FALSE(HTTPSocket::NetworkIsConnected());
  HTTPSocket::SetNetworkCheck([] { return true; });
  EXPECT_TRUE(HTTPSocket::NetworkIsConnected());
  HTTPSocket::SetNetworkCheck(previous);
}
