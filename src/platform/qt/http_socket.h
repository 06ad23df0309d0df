#pragma once
// The framework's HTTP socket on QNetworkAccessManager: one request at a time,
// answered by events.
// - Get(url): fetches a page; PageReceived(url, status, headers, content).
// - Get(url, file): downloads into a file, raising ReceiveProgress(received,
//   total, new bytes) on the way and DownloadComplete(url, status, headers,
//   file) at the end.
// Any answer from the server counts, whatever its HTTP status; a request that
// gets no whole answer (no route, refused, cut off, silent for the stall
// limit, a page far larger than any the program asks for) raises Error
// instead.
// A new Get abandons the request still running.
#include <QNetworkReply>
#include <QPointer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/event.h"

class QFile;
class QNetworkAccessManager;

namespace platform {

using InternetHeaders = std::vector<std::pair<std::string, std::string>>;

class HTTPSocket {
 public:
  explicit HTTPSocket(std::string name);
  ~HTTPSocket();
  HTTPSocket(const HTTPSocket&) = delete;
  HTTPSocket& operator=(const HTTPSocket&) = delete;

  const std::string& Name() const { return name_; }

  void Get(const std::string& url);
  // The file is written whole or not at all: the bytes go to a temporary file
  // beside it, renamed to `file` when the answer is complete.
  void Get(const std::string& url, const std::filesystem::path& file);
  bool Busy() const { return reply_ != nullptr; }

  Event<const std::string&, int, const InternetHeaders&, const std::string&> PageReceived;
  // Bytes received so far, total expected (-1 when the server doesn't say),
  // the bytes that just arrived.
  Event<int, int, const std::string&> ReceiveProgress;
  Event<const std::string&, int, const InternetHeaders&, const std::filesystem::path&>
      DownloadComplete;
  // The request got no answer; the argument is a short reason.
  Event<const std::string&> Error;

  // System.Network.IsConnected: false only when the system's network
  // information says the network is down; true where it cannot tell. Tests
  // replace the check.
  static bool NetworkIsConnected();
  using NetworkCheck = std::function<bool()>;
  static NetworkCheck SetNetworkCheck(NetworkCheck check);
  // How long a request may go without a byte arriving before it counts as
  // unanswered: a minute unless changed (tests shorten it). Taken when a
  // request starts; returns the limit it replaces.
  static std::chrono::milliseconds SetStallLimit(std::chrono::milliseconds limit);

 private:
  void Start(const std::string& url);
  void Abandon();
  void Finished();

  std::string name_;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QPointer<QNetworkReply> reply_;
  std::string url_;
  std::filesystem::path file_;
  std::unique_ptr<QFile> part_;
  std::int64_t received_ = 0;
};

}  // namespace platform
