#pragma once
// The module-wide globals that the link, the window and the port watch share.
#include <string>

namespace Spec {
extern std::string DataPort;  // chosen port's device name without its directory; empty at start
extern int Revision;          // revision byte of the last "NM" hello reply
extern bool Detecting;        // automatic detection in progress
extern bool Detected;         // automatic detection heard the unit
extern bool Quitting;         // the application is quitting: ends the port watch
}  // namespace Spec
