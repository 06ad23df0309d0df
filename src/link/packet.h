#pragma once
// One request to the unit and its outcome.
#include <cstdint>
#include <memory>
#include <string>

// How a request's reply is recognised.
enum PacketTypeCode : int {
  PacketTypeCR = 1,     // acknowledged by a carriage return (byte 13)
  PacketTypeOK = 2,     // acknowledged by "O"
  PacketTypeHello = 3,  // "NM" + revision byte, or "22" from the bootloader
  PacketTypeRead = 4,   // the request's last letter + a fixed number of bytes
};

struct Packet {
  std::string Final;      // the request bytes, sent unchanged
  std::string Response;   // a read reply's bytes after the letter
  std::int64_t Sent = 0;  // tick count when it went out
  bool Returned = false;
  int Type = 0;  // one of PacketTypeCode
  int FailCount = 0;
  std::string Header;  // a read reply's first byte: the letter
};

// Packets are shared between the queue and whoever is handed one.
using PacketRef = std::shared_ptr<Packet>;
