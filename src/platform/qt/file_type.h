#pragma once
// A file type the program reads and writes: its name, extension and the Mac
// type and creator codes its files carry.
#include <QString>
#include <string>

namespace platform {

struct FileType {
  std::string Name;        // e.g. "Calibration"
  std::string Extension;   // with its dot, e.g. ".lcd"
  std::string MacType;     // four characters
  std::string MacCreator;  // four characters

  // The filter of the file dialogs: "Calibration (*.lcd)".
  QString DialogFilter() const;
};

}  // namespace platform
