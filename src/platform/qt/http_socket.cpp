#include "platform/qt/http_socket.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkInformation>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <algorithm>
#include <limits>
#include <utility>

namespace platform {

namespace {

constexpr qint64 kDownloadChunkBytes = 256 * 1024;
// A page is held in memory whole. The program asks only for small ones, so an
// answer far beyond that is refused rather than left to grow without end.
constexpr qint64 kPageLimitBytes = 1024 * 1024;

std::chrono::milliseconds& StallLimit() {
  static std::chrono::milliseconds limit{60000};
  return limit;
}

HTTPSocket::NetworkCheck& Check() {
  static HTTPSocket::NetworkCheck check;
  return check;
}

// The server answered, but its answer did not arrive whole: the connection
// broke off, went silent or was garbled after the status line. The errors
// that stand for the HTTP status itself (404, 500, ...) are answers.
bool CutShort(QNetworkReply::NetworkError error) {
  return (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
         error == QNetworkReply::ProtocolFailure;
}

int ToInt32(qint64 n) {
  return static_cast<int>(std::clamp<qint64>(n, -1, std::numeric_limits<int>::max()));
}

std::string Bytes(const QByteArray& b) {
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

InternetHeaders HeadersOf(const QNetworkReply& reply) {
  InternetHeaders headers;
  for (const auto& pair : reply.rawHeaderPairs()) {
    headers.emplace_back(Bytes(pair.first), Bytes(pair.second));
  }
  return headers;
}

}  // namespace

HTTPSocket::HTTPSocket(std::string name)
    : name_(std::move(name)), manager_(std::make_unique<QNetworkAccessManager>()) {}

HTTPSocket::~HTTPSocket() {
  Abandon();
}

void HTTPSocket::Get(const std::string& url) {
  Abandon();
  Start(url);
}

void HTTPSocket::Get(const std::string& url, const std::filesystem::path& file) {
  Abandon();
  file_ = file;
  part_ = std::make_unique<QFile>(QString::fromStdString(file.string() + ".part"));
  if (!part_->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    part_.reset();
    file_.clear();
    Error("The file for the download could not be created.");
    return;
  }
  Start(url);
}

void HTTPSocket::Start(const std::string& url) {
  url_ = url;
  received_ = 0;
  QNetworkRequest request(QUrl(QString::fromStdString(url)));
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  // A server that stops sending would otherwise keep the request, and the
  // download window, open for ever.
  request.setTransferTimeout(static_cast<int>(StallLimit().count()));
  reply_ = manager_->get(request);
  QNetworkReply* reply = reply_;
  // A fast server would otherwise hand over megabytes per event, and writing
  // them out would hold up the window.
  if (part_ != nullptr) reply->setReadBufferSize(kDownloadChunkBytes);
  QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, reply] {
    if (part_ == nullptr) {
      // A page is read whole at the end.
      if (reply->bytesAvailable() <= kPageLimitBytes) return;
      Abandon();
      Error("The answer was too large.");
      return;
    }
    const QByteArray chunk = reply->readAll();
    if (part_->write(chunk) != chunk.size()) {
      Abandon();
      Error("The download could not be written to its file.");
      return;
    }
    received_ += chunk.size();
    const qint64 total = reply->header(QNetworkRequest::ContentLengthHeader).isValid()
                             ? reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()
                             : -1;
    ReceiveProgress(ToInt32(received_), ToInt32(total), Bytes(chunk));
  });
  QObject::connect(reply, &QNetworkReply::finished, reply, [this] { Finished(); });
}

void HTTPSocket::Finished() {
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->deleteLater();
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  const std::string url = url_;
  if (!status.isValid() || CutShort(reply->error())) {
    const std::string reason = reply->errorString().toStdString();
    if (part_ != nullptr) {
      part_->remove();
      part_.reset();
    }
    Error(reason);
    return;
  }
  const InternetHeaders headers = HeadersOf(*reply);
  if (part_ == nullptr) {
    PageReceived(url, status.toInt(), headers, Bytes(reply->readAll()));
    return;
  }
  const QByteArray rest = reply->readAll();
  const bool written = part_->write(rest) == rest.size() && part_->flush();
  part_->close();
  const QString target = QString::fromStdString(file_.string());
  QFile::remove(target);
  const bool renamed = written && part_->rename(target);
  if (!renamed) part_->remove();
  part_.reset();
  const std::filesystem::path file = file_;
  file_.clear();
  if (!renamed) {
    Error("The download could not be written to its file.");
    return;
  }
  DownloadComplete(url, status.toInt(), headers, file);
}

void HTTPSocket::Abandon() {
  if (reply_ != nullptr) {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->abort();
    reply->deleteLater();
  }
  if (part_ != nullptr) {
    part_->remove();
    part_.reset();
  }
  file_.clear();
}

bool HTTPSocket::NetworkIsConnected() {
  if (Check()) return Check()();
  // Down only when the system says so; where it cannot tell, the request
  // itself finds out.
  if (QNetworkInformation::instance() == nullptr &&
      !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
    return true;
  }
  return QNetworkInformation::instance()->reachability() !=
         QNetworkInformation::Reachability::Disconnected;
}

std::chrono::milliseconds HTTPSocket::SetStallLimit(std::chrono::milliseconds limit) {
  return std::exchange(StallLimit(), limit);
}

HTTPSocket::NetworkCheck HTTPSocket::SetNetworkCheck(NetworkCheck check) {
  NetworkCheck previous = std::move(Check());
  Check() = std::move(check);
  return previous;
}

}  // namespace platform
