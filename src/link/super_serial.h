#pragma once
// The packet-queue serial link to the unit: requests are queued, sent one at a
// time by SendNext (driven by the window's 30 ms timer), and each reply is
// matched against the outstanding request's packet type.
#include <QObject>
#include <cstdint>
#include <string>
#include <vector>

#include "link/packet.h"

class QSerialPort;
class QTimer;

class SuperSerial : public QObject {
  Q_OBJECT

 public:
  explicit SuperSerial(QObject* parent = nullptr);
  ~SuperSerial() override;

  // Appends a request to the queue; sends nothing itself.
  void AddPacket(int type, const std::string& text);
  // Sends the head of the queue when nothing is outstanding (see the .cpp).
  void SendNext();
  // Delivers waiting input to the reply handling and checks time-outs.
  void Poll();
  // Opens the port named by Spec::DataPort; raises Connecting on success.
  void Connect();
  // Closes the port; raises Disconnected when it was open.
  void Disconnect();

  // True between Connect and the moment it opens the port.
  bool IsWaitingToOpen() const { return connectPending_; }

  // The port's line rate (8N1, no flow control are fixed).
  void SetBaud(int baud);
  int Baud() const { return baud_; }

  // Upper bound of Packets: 0 when the queue is empty.
  int PacketCount() const { return static_cast<int>(Packets.size()) - 1; }
  // Nothing outstanding and nothing queued.
  bool IsIdle() const { return !CurrentPacket && PacketCount() == 0; }
  // Bytes of the outstanding request's reply received so far.
  std::size_t ReplyBytesReceived() const { return input_.size(); }

  bool Opened = false;                      // the port is open
  bool isConnected = false;                 // a hello reply has been accepted since Connect
  bool PMode = false;                       // the unit's bootloader answered the last hello
  PacketRef CurrentPacket;                  // the request awaiting its reply, or null
  std::vector<PacketRef> Packets{nullptr};  // 1-based queue; element 0 stays empty
  // A unit whose bootloader answers the first hello of a connection is sent
  // "E" and greeted again. Cleared while leaving would start a half-written
  // firmware.
  bool ExitBootloaderOnConnect = true;

 signals:
  void Connecting();
  void Connected();
  void Disconnected();
  void PacketSucceeded(PacketRef p);
  // The queue was dropped after a request failed its last try; `failed` is
  // that request. Lets the window tell the user a write or update failed.
  void QueueDropped(PacketRef failed);

 private:
  void OnDataAvailable();
  void OnPortError(int error);
  void OnConnectWait();
  void Accept(const PacketRef& p, bool bootloader, int revision, const std::string& header,
              const std::string& response);
  void Fail();
  void CheckTimeout();
  void DiscardInput();

  QSerialPort* port_ = nullptr;
  QTimer* connectTimer_ = nullptr;  // the wait before opening, without blocking
  int baud_ = 9600;
  std::string input_;                 // bytes received for the outstanding request
  std::int64_t letterAt_ = -1;        // tick the first reply byte arrived, -1 before
  std::int64_t openRequestedAt_ = 0;  // tick Connect began its wait
  std::string openLocation_;          // path of the port Connect is about to open
  bool connectPending_ = false;
};
