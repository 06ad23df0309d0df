#pragma once
// One member's extra-field block, kept byte for byte, with the two records the
// library understands found in it: the Mac "ZPIT" record (type, creator, long
// name) and a block that is nothing but a Unix type-1 record (access and
// modification times). The block never changes after construction; Lock
// marks a field adopted into a member's record.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/memory_block.h"
#include "platform/text_encoding.h"

namespace zip {

class ZipArchiveData;

class ZipExtraField {
 public:
  ZipExtraField(std::shared_ptr<ZipArchiveData> d, std::string_view block);

  std::string AsData() const;
  bool IsLocked() const { return locked_; }
  void Lock() { locked_ = true; }

  // Type, creator and decoded name from the Mac record; False, with the
  // arguments untouched, when there is none or it is too short for its form.
  bool GetTypeCreatorName(std::string& type, std::string& creator, platform::Text& name) const;
  bool IsUnixType1Only() const { return hasUXonly_; }
  // The Unix record's times; False, arguments untouched, unless the access
  // time is set.
  bool GetUnixTimes(std::int32_t& accessTime, std::int32_t& modTime) const;

  // Offset of the Mac record in the block, -1 when there is none.
  std::int32_t MacRecordOffset() const { return zpit_rec_; }

 private:
  std::optional<platform::MemoryBlock> data_;
  bool locked_ = false;
  std::int32_t zpit_rec_ = -1;
  std::shared_ptr<ZipArchiveData> d_;
  bool hasUXonly_ = false;
  std::int32_t accTime_ = 0;
  std::int32_t modTime_ = 0;
};

using ZipExtraFieldRef = std::shared_ptr<ZipExtraField>;

// A block holding one Mac record: the long form (id 0x2605) with a name, the
// short form (0x2705) without. A name that is valid UTF-8 is stored in the
// archive's name encoding; other bytes go in as they are. Type and creator
// fill 4 bytes each, cut or padded with zero bytes.
std::string MakeMacExtraBlock(const ZipArchiveData& d, std::string_view type,
                              std::string_view creator, std::string_view name);

}  // namespace zip
