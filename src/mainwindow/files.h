#pragma once
// The program's file types. Start-up registers them (_InitFileTypes); the
// layout file's save and open dialogs and the files it creates use the type
// named "Calibration".
#include <string>
#include <vector>

#include "platform/qt/file_type.h"

void _InitFileTypes();

namespace Files {

// The registered type of that name, or nullptr.
const platform::FileType* Named(const std::string& name);
// The layout file type; throws std::logic_error before _InitFileTypes ran.
const platform::FileType& Calibration();
const std::vector<platform::FileType>& All();

}  // namespace Files
