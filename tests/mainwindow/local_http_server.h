#pragma once
// A small web server on 127.0.0.1 for tests. Each request is answered by its
// path with a status line and a body, then the connection closes; a path it
// does not know gets 404. It records the paths asked for.
#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LocalHttpServer {
 public:
  struct Answer {
    QByteArray status;
    QByteArray body;
    // Without a length the body simply ends where the connection closes.
    bool withLength = true;
    // Above 0: the body goes out in pieces of this many bytes, one every
    // 20 ms, as over a slow line.
    int trickle = 0;
    // Above -1: the whole body's length is announced, but only this many of
    // its bytes go out. Then the connection closes, or with `stall` it stays
    // open and silent.
    int cutAfter = -1;
    bool stall = false;
  };
  std::map<QByteArray, Answer> routes;
  std::vector<QByteArray> requested;

  LocalHttpServer() {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) Serve(socket);
    });
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
  std::string Url(const char* path) const { return Base() + path; }

 private:
  void Serve(QTcpSocket* socket) {
    // Goes with the connection, however it ends.
    auto request = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
      request->append(socket->readAll());
      if (!request->contains("\r\n\r\n")) return;
      QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
      const QByteArray path = request->split(' ').value(1);
      requested.push_back(path);
      auto it = routes.find(path);
      const Answer answer = it == routes.end() ? Answer{"404 Not Found", "missing"} : it->second;
      QByteArray head = "HTTP/1.1 " + answer.status + "\r\n";
      if (answer.withLength) {
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
      }
      socket->write(head + "X-Test: yes\r\nConnection: close\r\n\r\n");
      if (answer.trickle > 0) {
        Trickle(socket, answer.body, answer.trickle);
      } else if (answer.cutAfter >= 0) {
        socket->write(answer.body.left(answer.cutAfter));
        if (!answer.stall) socket->disconnectFromHost();
      } else {
        socket->write(answer.body);
        socket->disconnectFromHost();
      }
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket,
                     [socket] { socket->deleteLater(); });
  }

  static void Trickle(QTcpSocket* socket, QByteArray rest, int piece) {
    if (rest.isEmpty()) {
      socket->disconnectFromHost();
      return;
    }
    socket->write(rest.left(piece));
    QTimer::singleShot(20, socket,
                       [socket, rest, piece] { Trickle(socket, rest.mid(piece), piece); });
  }

  QTcpServer server_;
};
