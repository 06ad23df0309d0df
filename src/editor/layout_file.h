#pragma once
// The layout file (.lcd): bytes <-> Layout. A version byte leads; then signed
// bytes, big-endian 16-bit numbers and texts led by their length byte, with
// no padding, length field or checksum. Version 3 is written; 1 to 3 are read.
#include <cstddef>
#include <string>
#include <string_view>

#include "editor/layout_value.h"

namespace editor {

inline constexpr std::size_t kMaxTextBytes = 255;  // one length byte

struct LayoutRead {
  // Fields 1 to fieldsRead hold what the file says; later ones keep their
  // default values and must not be applied.
  Layout layout;
  int fieldsRead = 0;
  // The file ended before the last field its version holds.
  bool damaged = false;
  // The file could not be opened or read at all; nothing was decoded.
  bool unreadable = false;
  // What was wrong, in words for the user; empty when the file was whole.
  std::string error;
};

// Always version 3 with 56 item codes, whatever layout.version says. Texts
// longer than 255 bytes are cut (CutText) so the length byte matches.
std::string EncodeLayout(const Layout& layout);

// Never fails: reads as many whole fields as the bytes hold. Bytes after the
// last field are ignored (a later version may add fields there).
LayoutRead DecodeLayout(std::string_view bytes);

// The longest head of text that fits maxBytes without splitting a UTF-8
// character.
std::string CutText(std::string_view text, std::size_t maxBytes = kMaxTextBytes);

// A warning field's text as the whole number the file stores: the text's
// numeric value truncated toward zero and held within a 16-bit number.
int WarningValue(std::string_view text);

// Reads and decodes a layout file. A file that cannot be opened or read
// comes back unreadable, with the system's reason in error.
LayoutRead LoadLayoutFile(const std::string& path);

// Encodes and writes the layout atomically: either the whole new file is in
// place or the old one is untouched. False with the reason in *error.
bool SaveLayoutFile(const std::string& path, const Layout& layout, std::string* error);

}  // namespace editor
