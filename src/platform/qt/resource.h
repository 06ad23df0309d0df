#pragma once
// Built-in resources (Qt's resource system) read as bytes.
#include <string>

namespace platform {

// The resource's bytes, unchanged; empty when there is no such resource.
std::string ReadResource(const char* path);

}  // namespace platform
