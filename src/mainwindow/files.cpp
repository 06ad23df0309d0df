#include "mainwindow/files.h"

#include <stdexcept>

namespace {
std::vector<platform::FileType>& Registered() {
  static std::vector<platform::FileType> types;
  return types;
}
}  // namespace

void _InitFileTypes() {
  Registered() = {{"Calibration", ".lcd", "lcdc", "Vnta"}};
}

namespace Files {

const platform::FileType* Named(const std::string& name) {
  for (const platform::FileType& type : Registered()) {
    if (type.Name == name) return &type;
  }
  return nullptr;
}

const platform::FileType& Calibration() {
  const platform::FileType* type = Named("Calibration");
  if (type == nullptr) throw std::logic_error("file types used before _InitFileTypes");
  return *type;
}

const std::vector<platform::FileType>& All() {
  return Registered();
}

}  // namespace Files
