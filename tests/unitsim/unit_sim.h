#pragma once
// A simulated Vantora II on a pseudo terminal. The unit runs on its own
// thread and answers whatever opens the pty's device path: the normal
// firmware (settings reads and writes, keys, hello) and the AVR109
// bootloader (flash erase, write and read), with faults on demand.
//
//   unitsim::UnitSim unit;
//   platform::AddExtraSerialPort("ttySim", unit.PortPath());
//   ... the link talks to it ...
//   EXPECT_EQ(unit.Settings().Dimmer, 7);
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "unitsim/hang_guard.h"
#include "unitsim/unit_settings.h"

namespace unitsim {

enum class Mode { Firmware, Bootloader };

enum class FaultKind {
  NoReply,      // the request is taken but no reply goes out
  WrongLetter,  // the reply's first byte has its case flipped ('O' -> 'o', CR -> '-')
  ShortReply,   // the last Param bytes (at least one) of the reply are left off
  Delay,        // the reply goes out Param milliseconds late
  ExtraBytes,   // Param bytes (at least one) of junk follow the reply
  Split,        // the first Param bytes go out; the rest waits for ReleaseHeld()
};

struct Fault {
  FaultKind Kind = FaultKind::NoReply;
  int Param = 0;
};

constexpr std::size_t kFlashSize = 128 * 1024;
constexpr std::size_t kBlockSize = 256;
// The bootloader's answers to "S" and "V" ("V" doubles as its hello reply).
constexpr const char* kSoftwareId = "VNTBOOT";
constexpr const char* kBootloaderVersion = "22";

class UnitSim {
 public:
  UnitSim();
  ~UnitSim();
  UnitSim(const UnitSim&) = delete;
  UnitSim& operator=(const UnitSim&) = delete;

  // False when no pty could be made; Error() says why.
  bool Ok() const;
  std::string Error() const;
  // The device path a client opens, e.g. "/dev/pts/7".
  std::string PortPath() const;

  // Firmware revision in the hello reply; the one after a firmware update.
  void SetRevision(int revision);
  int Revision() const;
  void SetRevisionAfterUpdate(int revision);

  Mode CurrentMode() const;
  void EnterBootloader();

  UnitSettings Settings() const;
  void SetSettings(const UnitSettings& settings);

  // The whole flash, kFlashSize bytes (0xFF where erased).
  std::vector<std::uint8_t> Flash() const;
  void SetFlash(const std::vector<std::uint8_t>& flash);
  int EraseCount() const;

  // Faults apply to the replies of the next requests, one fault a request.
  void QueueFault(Fault fault);
  // Every reply to this request (its whole text) gets the fault, ahead of any
  // queued one, until ClearFaults: a unit that garbles all its "ra" replies.
  void FaultEvery(const std::string& request, Fault fault);
  void ClearFaults();
  // Sends the first `count` bytes that a Split fault held back (all by default).
  void ReleaseHeld(std::size_t count = static_cast<std::size_t>(-1));

  // Closes the pty as if the cable were pulled; the device path goes away.
  void Unplug();
  bool Plugged() const;

  // Every request the unit has taken, whole (payload included), in order.
  std::vector<std::string> Requests() const;
  std::size_t RequestCount() const;
  void ClearRequests();
  // Blocks until at least n requests have been taken; false on time-out.
  bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout = kHangGuard) const;

  // Called on the unit's thread with the key's name (see KeyName) for every
  // key press the firmware takes: a person trying the tool sees the keys
  // arrive, since the window itself shows nothing of them.
  void OnKey(std::function<void(const std::string& key)> listener);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace unitsim
