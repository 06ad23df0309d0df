#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

const TextEncoding& TextEncoding::UTF8() {
  static const TextEncoding e(kBaseUnicode, 0, 2, "UTF-8", "UTF-8");
  return e;
}
const TextEncoding& TextEncoding::MacRoman() {
  static const TextEncoding e(kBaseMacRoman, 0, 0, "Mac Roman", "MACINTOSH");
  return e;
}
const TextEncoding& TextEncoding::DOSLatinUS() {
  static const TextEncoding e(kBaseDOSLatinUS, 0, 0, "DOS Latin US", "CP437");
  return e;
}
const TextEncoding& TextEncoding::WindowsANSI() {
  static const TextEncoding e(kBaseWindowsLatin1, 0, 0, "Windows ANSI", "CP1252");
  return e;
}

const TextEncoding* GetTextEncoding(int base, int variant, int format) {
  for (const TextEncoding* e : {&TextEncoding::UTF8(), &TextEncoding::MacRoman(),
                                &TextEncoding::DOSLatinUS(), &TextEncoding::WindowsANSI()}) {
    if (e->Base() == base && e->Variant() == variant && e->Format() == format) return e;
  }
  return nullptr;
}

namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Decodes to code points; a byte that cannot be decoded becomes U+FFFD.
std::vector<char32_t> Decode(std::string_view bytes, const TextEncoding& from) {
  std::vector<char32_t> out;
  Iconv cd("UTF-32LE", from.IconvName());
  if (!cd.ok()) return out;
  std::vector<char> in(bytes.begin(), bytes.end());
  char* inp = in.data();
  std::size_t inLeft = in.size();
  while (inLeft > 0) {
    char32_t buffer[256];
    char* outp = reinterpret_cast<char*>(buffer);
    std::size_t outLeft = sizeof buffer;
    std::size_t r = iconv(cd.get(), &inp, &inLeft, &outp, &outLeft);
    std::size_t produced = (sizeof buffer - outLeft) / sizeof(char32_t);
    for (std::size_t i = 0; i < produced; ++i) {
      unsigned char b[4];
      std::memcpy(b, &buffer[i], 4);
      out.push_back(static_cast<char32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                          (static_cast<std::uint32_t>(b[3]) << 24)));
    }
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // Invalid or incomplete sequence: replace one byte and go on.
      out.push_back(U'\uFFFD');
      ++inp;
      --inLeft;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

}  // namespace

std::string ConvertEncoding(std::string_view bytes, const TextEncoding& from,
                            const TextEncoding& to) {
  if (&from == &to && (&from != &TextEncoding::UTF8() || IsValidUTF8(bytes))) {
    return std::string(bytes);
  }
  std::vector<char32_t> chars = Decode(bytes, from);
  std::string out;
  Iconv cd(to.IconvName(), "UTF-32LE");
  if (!cd.ok()) return out;
  for (char32_t c : chars) {
    unsigned char in[4] = {
        static_cast<unsigned char>(c & 0xFF), static_cast<unsigned char>((c >> 8) & 0xFF),
        static_cast<unsigned char>((c >> 16) & 0xFF), static_cast<unsigned char>((c >> 24) & 0xFF)};
    char* inp = reinterpret_cast<char*>(in);
    std::size_t inLeft = 4;
    char buffer[16];
    char* outp = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t r = iconv(cd.get(), &inp, &inLeft, &outp, &outLeft);
    if (r == static_cast<std::size_t>(-1)) {
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');
    } else {
      out.append(buffer, sizeof buffer - outLeft);
    }
  }
  return out;
}

bool IsValidUTF8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t extra;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char n = static_cast<unsigned char>(bytes[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (n & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace platform
