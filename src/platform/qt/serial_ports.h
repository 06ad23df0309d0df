#pragma once
// The system's serial ports as the link and the port pop-up see them: a device
// name without its directory (what Spec::DataPort holds) and the path the
// port is opened by.
//
// Besides the ports the system reports, the list carries extra ports:
//  - ports added in code (tests add a pty this way);
//  - every entry of PublishedPortDir(), the user's own folder where the
//    simulated unit run by hand publishes its pty as a symlink, so a person
//    can try the tool without hardware. The entry's file name is the port's
//    name. A folder or link that is not the user's alone is ignored
//    (platform/published_ports.h).
#include <string>
#include <vector>

class QSerialPort;

namespace platform {

struct SerialPortEntry {
  std::string Name;      // e.g. "ttyUSB0"
  std::string Location;  // e.g. "/dev/ttyUSB0"
};

// The system's ports in its order, then the added ports, then the published ones.
std::vector<SerialPortEntry> SerialPorts();
int SerialPortCount();

// Opens `location` for reading and writing at `baud`, 8 data bits, no
// parity, one stop bit, no flow control, with nothing left over from before.
bool OpenSerialPort(QSerialPort& port, const std::string& location, int baud);

// Adds a port to the list (a later add with the same name replaces it).
void AddExtraSerialPort(const std::string& name, const std::string& location);
void RemoveExtraSerialPort(const std::string& name);
void ClearExtraSerialPorts();

// Leaves the system's own ports out of the list (true restores them). Tests
// do this so they never write to a real device on the machine they run on.
void UseSystemSerialPorts(bool use);

// DefaultPublishedPortDir() unless changed (tests point it elsewhere so that
// a simulator someone runs by hand cannot disturb them).
std::string PublishedPortDir();
void SetPublishedPortDir(const std::string& dir);

// The system's own ports are asked for again only when the names in this
// directory ("/dev" unless changed) differ from the last time, since asking
// costs thousands of system calls. Tests point it at a folder of their own and
// count how often the system was asked.
std::string DeviceDir();
void SetDeviceDir(const std::string& dir);
int SystemPortScans();

}  // namespace platform
