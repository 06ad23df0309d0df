#include "platform/made_items.h"

namespace platform {

namespace {

thread_local MadeItems* recording = nullptr;

}  // namespace

void MadeItems::Note(const ItemId& id) {
  items_.insert(id);
}

bool MadeItems::Has(const ItemId& id) const {
  return items_.count(id) > 0;
}

RecordingMade::RecordingMade(MadeItems& made) : previous_(recording) {
  recording = &made;
}

RecordingMade::~RecordingMade() {
  recording = previous_;
}

void NoteMade(const Looked& st) {
  if (recording != nullptr) recording->Note(ItemId::Of(st));
}

void NoteMade(int fd) {
  Looked st{};
  if (recording != nullptr && LookThrough(fd, st)) recording->Note(ItemId::Of(st));
}

}  // namespace platform
