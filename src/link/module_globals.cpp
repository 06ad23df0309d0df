#include "link/module_globals.h"

namespace Spec {
std::string DataPort;
int Revision = 0;
bool Detecting = false;
bool Detected = false;
bool Quitting = false;
}  // namespace Spec
