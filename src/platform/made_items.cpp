#include "platform/made_items.h"

#include <algorithm>

namespace platform {

namespace {

thread_local MadeItems* recording = nullptr;

}  // namespace

void MadeItems::Note(const ItemId& id) {
  sorted_ = sorted_ && (items_.empty() || items_.back() < id);
  items_.push_back(id);
}

bool MadeItems::Has(const ItemId& id) const {
  if (!sorted_) {
    std::sort(items_.begin(), items_.end());
    items_.erase(std::unique(items_.begin(), items_.end()), items_.end());
    sorted_ = true;
  }
  return std::binary_search(items_.begin(), items_.end(), id);
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
