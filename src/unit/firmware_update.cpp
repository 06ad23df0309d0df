#include "unit/firmware_update.h"

#include "link/packet.h"
#include "unit/conversions.h"

namespace unit {

std::string FirmwareImageProblem(std::string_view image) {
  if (image.empty()) return FirmwareEmptyMessage;
  if (image.size() > FirmwareMaxBytes) return FirmwareTooLargeMessage;
  return {};
}

int FirmwareBlockCount(std::size_t imageBytes) {
  return static_cast<int>((imageBytes + FirmwareBlockBytes - 1) / FirmwareBlockBytes);
}

std::vector<QueuedRequest> BootloaderEntryRequests() {
  return {{PacketTypeOK, "\x1B\x1B"}, {PacketTypeHello, "V"}};
}

QueuedRequest BootloaderExitRequest() {
  return {PacketTypeCR, "E"};
}

std::vector<QueuedRequest> FirmwareBlockRequests(std::string_view image) {
  const int blocks = FirmwareBlockCount(image.size());
  std::vector<QueuedRequest> out;
  out.reserve(1 + 2 * static_cast<std::size_t>(blocks));
  out.push_back({PacketTypeCR, "e"});
  for (int i = 0; i < blocks; ++i) {
    const std::size_t offset = static_cast<std::size_t>(i) * FirmwareBlockBytes;
    const std::string_view block = image.substr(offset, FirmwareBlockBytes);
    out.push_back({PacketTypeCR, "A" + Spec::Dec2Hex(static_cast<int>(offset / 2))});
    std::string load = "B" + Spec::Dec2Hex(static_cast<int>(block.size())) + "F";
    load.append(block);
    out.push_back({PacketTypeCR, std::move(load)});
  }
  return out;
}

std::vector<QueuedRequest> FirmwareUpdateRequests(std::string_view image, bool inBootloader) {
  std::vector<QueuedRequest> out;
  if (!inBootloader) out = BootloaderEntryRequests();
  std::vector<QueuedRequest> blocks = FirmwareBlockRequests(image);
  out.insert(out.end(), std::make_move_iterator(blocks.begin()),
             std::make_move_iterator(blocks.end()));
  return out;
}

}  // namespace unit
