#include "platform/qt/serial_ports.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/published_ports.h"

namespace platform {
namespace {
std::vector<SerialPortEntry>& Extra() {
  static std::vector<SerialPortEntry> extra;
  return extra;
}

bool& SystemPortsUsed() {
  static bool used = true;
  return used;
}

// Unset: the user's own folder, found again on each look (the runtime
// folder may come or go while the program runs).
std::optional<std::string>& PublishedDirOverride() {
  static std::optional<std::string> dir;
  return dir;
}

std::string& DeviceDirPath() {
  static std::string dir = "/dev";
  return dir;
}

int& ScanCount() {
  static int scans = 0;
  return scans;
}

// The names in the device directory, sorted and joined: an adapter plugged in
// or pulled out adds or removes its node there. Nothing when the directory
// can't be read.
std::optional<std::string> DeviceNames() {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(DeviceDirPath(), ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    names.push_back(it->path().filename().string());
  }
  if (ec) return std::nullopt;
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) joined.append(name).push_back('\n');
  return joined;
}

// Asking the system for its serial ports walks every tty it has in sysfs and
// the device database: thousands of system calls, and the port watch and the
// link watchdog ask twice a second each. The list is taken again only when
// the device directory's names change (or can't be read).
const std::vector<SerialPortEntry>& SystemPorts() {
  static std::vector<SerialPortEntry> ports;
  static std::optional<std::string> takenWith;
  static bool taken = false;
  const std::optional<std::string> names = DeviceNames();
  if (taken && names && names == takenWith) return ports;
  ports.clear();
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    ports.push_back({info.portName().toStdString(), info.systemLocation().toStdString()});
  }
  ++ScanCount();
  takenWith = names;
  taken = true;
  return ports;
}

void AddPublished(std::vector<SerialPortEntry>& out) {
  for (PublishedPort& port : PublishedPorts(PublishedPortDir())) {
    out.push_back({std::move(port.Name), std::move(port.Location)});
  }
}
}  // namespace

std::vector<SerialPortEntry> SerialPorts() {
  std::vector<SerialPortEntry> out;
  if (SystemPortsUsed()) out = SystemPorts();
  out.insert(out.end(), Extra().begin(), Extra().end());
  AddPublished(out);
  return out;
}

bool OpenSerialPort(QSerialPort& port, const std::string& location, int baud) {
  port.setPortName(QString::fromStdString(location));
  port.setBaudRate(baud);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  if (!port.open(QIODevice::ReadWrite)) return false;
  port.clear();
  return true;
}

int SerialPortCount() {
  return static_cast<int>(SerialPorts().size());
}

void AddExtraSerialPort(const std::string& name, const std::string& location) {
  RemoveExtraSerialPort(name);
  Extra().push_back({name, location});
}

void RemoveExtraSerialPort(const std::string& name) {
  auto& extra = Extra();
  extra.erase(std::remove_if(extra.begin(), extra.end(),
                             [&](const SerialPortEntry& e) { return e.Name == name; }),
              extra.end());
}

void ClearExtraSerialPorts() {
  Extra().clear();
}

void UseSystemSerialPorts(bool use) {
  SystemPortsUsed() = use;
}

std::string PublishedPortDir() {
  return PublishedDirOverride().value_or(DefaultPublishedPortDir());
}

void SetPublishedPortDir(const std::string& dir) {
  PublishedDirOverride() = dir;
}

std::string DeviceDir() {
  return DeviceDirPath();
}

void SetDeviceDir(const std::string& dir) {
  DeviceDirPath() = dir;
}

int SystemPortScans() {
  return ScanCount();
}

}  // namespace platform
