#pragma once
// The firmware image that ships with the program, built in as a resource.
#include <string>

// The image's bytes, read from the resource on the first call and kept for
// the rest of the run. Empty when the program was built without an image.
const std::string& VA2Firmware();
