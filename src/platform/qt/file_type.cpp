#include "platform/qt/file_type.h"

#include "platform/qt/control.h"

namespace platform {

QString FileType::DialogFilter() const {
  return QString("%1 (*%2)").arg(ToQ(Name), ToQ(Extension));
}

}  // namespace platform
