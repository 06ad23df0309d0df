#pragma once
// Text encodings of stored names and comments, converted through iconv.
// An encoding is identified as in the framework by base, variant and format;
// the four the program uses are ready-made singletons, compared by address.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class TextEncoding {
 public:
  // Base codes of the encodings the program knows.
  static constexpr int kBaseMacRoman = 0x0000;
  static constexpr int kBaseUnicode = 0x0100;
  static constexpr int kBaseDOSLatinUS = 0x0400;
  static constexpr int kBaseWindowsLatin1 = 0x0500;

  int Base() const { return base_; }
  int Variant() const { return variant_; }
  int Format() const { return format_; }
  // One number for the encoding: format in the top byte, variant, base.
  std::uint32_t Code() const {
    return (static_cast<std::uint32_t>(format_) << 26) |
           (static_cast<std::uint32_t>(variant_) << 16) | static_cast<std::uint32_t>(base_);
  }
  const char* Name() const { return name_; }
  const char* IconvName() const { return iconv_; }

  static const TextEncoding& UTF8();
  static const TextEncoding& MacRoman();
  static const TextEncoding& DOSLatinUS();   // code page 437
  static const TextEncoding& WindowsANSI();  // code page 1252, Windows Latin 1
  // The encoding texts have when nothing says otherwise: UTF-8 on this system.
  static const TextEncoding& SystemDefault() { return UTF8(); }

 private:
  constexpr TextEncoding(int base, int variant, int format, const char* name, const char* iconv)
      : base_(base), variant_(variant), format_(format), name_(name), iconv_(iconv) {}
  int base_, variant_, format_;
  const char* name_;
  const char* iconv_;
};

// The known encoding with that base, variant and format; nullptr for any other.
const TextEncoding* GetTextEncoding(int base, int variant, int format);

// `bytes` in `from` converted to `to`. Bytes that are not valid in `from`
// and characters that `to` cannot hold each become "?"; the conversion
// itself never fails.
std::string ConvertEncoding(std::string_view bytes, const TextEncoding& from,
                            const TextEncoding& to);

// True when the bytes are well-formed UTF-8 (ASCII included).
bool IsValidUTF8(std::string_view bytes);

// Bytes labelled with the encoding they are in; nullptr when nothing is known
// of them. Labelling never changes the bytes.
struct Text {
  std::string bytes;
  const TextEncoding* encoding = nullptr;

  // The text as UTF-8; bytes without a label are taken as the system default.
  std::string ToUTF8() const {
    return ConvertEncoding(bytes, encoding ? *encoding : TextEncoding::SystemDefault(),
                           TextEncoding::UTF8());
  }
  bool operator==(const Text& other) const { return bytes == other.bytes; }
};

}  // namespace platform
