#include "unitsim/unit_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "unitsim/unit_logic.h"

namespace unitsim {
namespace {
using Clock = std::chrono::steady_clock;
// A lone "V" counts as a whole request after this much silence.
constexpr auto kQuietGap = std::chrono::milliseconds(30);
}  // namespace

class UnitSim::Impl {
 public:
  Impl() {
    settings_ = UnitSettings::Defaults();
    boot_.Flash.assign(kFlashSize, 0xFF);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      error_ = std::string("pipe: ") + std::strerror(errno);
      return;
    }
    if (!OpenPty()) return;
    thread_ = std::thread([this] { Run(); });
  }

  ~Impl() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
    ClosePty();
    for (int fd : wake_) {
      if (fd >= 0) close(fd);
    }
  }

  bool OpenPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      error_ = std::string("pty: ") + std::strerror(errno);
      return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
      error_ = std::string("ptsname: ") + std::strerror(errno);
      return false;
    }
    path_ = name;
    // Holding the far end open keeps the pty alive between clients, and raw
    // mode keeps the line discipline from echoing or translating bytes
    // before a client sets its own modes.
    keeper_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper_ < 0) {
      error_ = std::string("open pty: ") + std::strerror(errno);
      return false;
    }
    termios t{};
    tcgetattr(keeper_, &t);
    cfmakeraw(&t);
    tcsetattr(keeper_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
  }

  void ClosePty() {
    if (master_ >= 0) close(master_);
    if (keeper_ >= 0) close(keeper_);
    master_ = keeper_ = -1;
  }

  void Wake() {
    if (wake_[1] >= 0) {
      const char c = 1;
      [[maybe_unused]] auto n = write(wake_[1], &c, 1);
    }
  }

  void Run() {
    std::unique_lock lock(mu_);
    while (!stop_) {
      const int timeoutMs = NextTimeoutMs();
      pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
      const nfds_t count = master_ >= 0 ? 2 : 1;
      lock.unlock();
      poll(fds, count, timeoutMs);
      lock.lock();
      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
      }
      if (count == 2 && master_ >= 0 && (fds[1].revents & POLLIN)) ReadInput();
      SendDue();
      Process(false);
      if (!input_.empty() && !quietDone_ && Clock::now() - lastByte_ >= kQuietGap) {
        Process(true);
        quietDone_ = true;
      }
    }
  }

  int NextTimeoutMs() const {
    auto next = Clock::time_point::max();
    for (const auto& t : timed_) next = std::min(next, t.At);
    if (!input_.empty() && !quietDone_) next = std::min(next, lastByte_ + kQuietGap);
    if (next == Clock::time_point::max()) return -1;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms + 1, 0, 1000));
  }

  void ReadInput() {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      input_.append(buf, static_cast<std::size_t>(n));
      lastByte_ = Clock::now();
      quietDone_ = false;
    }
  }

  // Replies to requests that arrived together go out together, as a unit
  // answering back to back would put them on the line.
  void Process(bool quiet) {
    ProcessRequests(quiet);
    Send(outgoing_);
    outgoing_.clear();
    requestsChanged_.notify_all();
  }

  void ProcessRequests(bool quiet) {
    while (!input_.empty()) {
      const bool firmware = mode_ == Mode::Firmware;
      Step step = firmware ? FirmwareTake(input_, quiet, settings_, revision_)
                           : BootloaderTake(input_, boot_);
      if (step.Consumed == 0) return;
      const std::string request = input_.substr(0, step.Consumed);
      input_.erase(0, step.Consumed);
      if (step.SwitchMode) {
        if (mode_ == Mode::Firmware) {
          mode_ = Mode::Bootloader;
        } else {
          mode_ = Mode::Firmware;
          revision_ = revisionAfterUpdate_;
        }
      }
      if (!step.Request) continue;
      Reply(step.Reply, request);
      requests_.push_back(request);
      if (const char* key = firmware ? KeyName(request) : nullptr; key && keyListener_) {
        keyListener_(key);
      }
    }
  }

  void Reply(std::string reply, const std::string& request) {
    Fault f;
    if (auto every = everyFaults_.find(request); every != everyFaults_.end()) {
      f = every->second;
    } else if (!faults_.empty()) {
      f = faults_.front();
      faults_.pop_front();
    } else {
      outgoing_ += reply;
      return;
    }
    const std::size_t param = static_cast<std::size_t>(std::max(f.Param, 0));
    switch (f.Kind) {
      case FaultKind::NoReply:
        return;
      case FaultKind::WrongLetter:
        if (!reply.empty()) reply[0] = static_cast<char>(reply[0] ^ 0x20);
        outgoing_ += reply;
        return;
      case FaultKind::ShortReply:
        reply.resize(reply.size() - std::min(reply.size(), std::max<std::size_t>(param, 1)));
        outgoing_ += reply;
        return;
      case FaultKind::Delay:
        timed_.push_back({Clock::now() + std::chrono::milliseconds(param), reply});
        return;
      case FaultKind::ExtraBytes:
        reply.append(std::max<std::size_t>(param, 1), 'X');
        outgoing_ += reply;
        return;
      case FaultKind::Split: {
        const std::size_t now = std::min(param, reply.size());
        outgoing_ += reply.substr(0, now);
        held_ += reply.substr(now);
        return;
      }
    }
  }

  void SendDue() {
    const auto now = Clock::now();
    for (auto it = timed_.begin(); it != timed_.end();) {
      if (it->At <= now) {
        Send(it->Bytes);
        it = timed_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // A client that stops reading loses what does not fit, as with a real
  // serial line; the unit never blocks.
  void Send(const std::string& bytes) {
    if (master_ < 0) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
  }

  struct Timed {
    Clock::time_point At;
    std::string Bytes;
  };

  mutable std::mutex mu_;
  mutable std::condition_variable requestsChanged_;
  std::thread thread_;
  bool stop_ = false;
  int wake_[2] = {-1, -1};
  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
  std::string error_;

  Mode mode_ = Mode::Firmware;
  int revision_ = 40;
  int revisionAfterUpdate_ = 41;
  UnitSettings settings_;
  BootState boot_;
  std::deque<Fault> faults_;
  std::map<std::string, Fault> everyFaults_;
  std::string held_;
  std::vector<Timed> timed_;
  std::string input_;
  std::string outgoing_;
  Clock::time_point lastByte_ = Clock::now();
  bool quietDone_ = false;  // the silence after the last byte was already used
  std::vector<std::string> requests_;
  std::function<void(const std::string&)> keyListener_;
};

UnitSim::UnitSim() : impl_(std::make_unique<Impl>()) {}
UnitSim::~UnitSim() = default;

bool UnitSim::Ok() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->error_.empty();
}
std::string UnitSim::Error() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->error_;
}
std::string UnitSim::PortPath() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->path_;
}

void UnitSim::SetRevision(int revision) {
  std::lock_guard lock(impl_->mu_);
  impl_->revision_ = revision;
}
int UnitSim::Revision() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->revision_;
}
void UnitSim::SetRevisionAfterUpdate(int revision) {
  std::lock_guard lock(impl_->mu_);
  impl_->revisionAfterUpdate_ = revision;
}

Mode UnitSim::CurrentMode() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->mode_;
}
void UnitSim::EnterBootloader() {
  std::lock_guard lock(impl_->mu_);
  impl_->mode_ = Mode::Bootloader;
}

UnitSettings UnitSim::Settings() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->settings_;
}
void UnitSim::SetSettings(const UnitSettings& settings) {
  std::lock_guard lock(impl_->mu_);
  impl_->settings_ = settings;
}

std::vector<std::uint8_t> UnitSim::Flash() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->boot_.Flash;
}
void UnitSim::SetFlash(const std::vector<std::uint8_t>& flash) {
  std::lock_guard lock(impl_->mu_);
  impl_->boot_.Flash.assign(kFlashSize, 0xFF);
  std::copy_n(flash.begin(), std::min(flash.size(), kFlashSize), impl_->boot_.Flash.begin());
}
int UnitSim::EraseCount() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->boot_.Erases;
}

void UnitSim::QueueFault(Fault fault) {
  std::lock_guard lock(impl_->mu_);
  impl_->faults_.push_back(fault);
}
void UnitSim::FaultEvery(const std::string& request, Fault fault) {
  std::lock_guard lock(impl_->mu_);
  impl_->everyFaults_[request] = fault;
}
void UnitSim::ClearFaults() {
  std::lock_guard lock(impl_->mu_);
  impl_->faults_.clear();
  impl_->everyFaults_.clear();
}
void UnitSim::ReleaseHeld(std::size_t count) {
  std::lock_guard lock(impl_->mu_);
  const std::size_t n = std::min(count, impl_->held_.size());
  impl_->Send(impl_->held_.substr(0, n));
  impl_->held_.erase(0, n);
}

void UnitSim::Unplug() {
  std::lock_guard lock(impl_->mu_);
  impl_->ClosePty();
  impl_->Wake();
}
bool UnitSim::Plugged() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->master_ >= 0;
}

std::vector<std::string> UnitSim::Requests() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->requests_;
}
std::size_t UnitSim::RequestCount() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->requests_.size();
}
void UnitSim::ClearRequests() {
  std::lock_guard lock(impl_->mu_);
  impl_->requests_.clear();
}
bool UnitSim::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mu_);
  return impl_->requestsChanged_.wait_for(lock, timeout,
                                          [&] { return impl_->requests_.size() >= n; });
}

void UnitSim::OnKey(std::function<void(const std::string& key)> listener) {
  std::lock_guard lock(impl_->mu_);
  impl_->keyListener_ = std::move(listener);
}

}  // namespace unitsim
