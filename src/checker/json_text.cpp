#include "checker/json_text.h"

#include <cstddef>
#include <utility>

namespace upgrade_info {

namespace {

void append_escape(std::string& json, char32_t unit) {
  constexpr std::string_view HEX = "0123456789abcdef";
  json += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) {
    json += HEX[(unit >> shift) & 0xF];
  }
}

// The character whose encoding starts at text[at], a byte of 0x80 or
// more, and the encoding's length; a length of 0 where no character of
// `form` starts (a stray, overlong, cut or out-of-range sequence).
std::pair<char32_t, std::size_t> character_at(std::string_view text,
                                              std::size_t at, name_bytes form) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0xC2   ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
  if (length == 0 || text.size() - at < length) {
    return {0, 0};
  }
  char32_t code = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      return {0, 0};
    }
    code = code << 6 | (byte(at + i) & 0x3Fu);
  }
  constexpr char32_t SHORTEST[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < SHORTEST[length] || code > 0x10FFFF ||
      (surrogate && form != name_bytes::wtf8)) {
    return {0, 0};
  }
  return {code, length};
}

}  // namespace

std::string json_string(std::string_view text, name_bytes form) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        json += '\\';
      }
      if (byte < 0x20 || byte == 0x7F) {
        append_escape(json, byte);
      } else {
        json += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    const auto [code, length] = character_at(text, at, form);
    if (length == 0) {
      append_escape(json, 0xDC00 | byte);
      ++at;
    } else if (code >= 0x10000) {
      append_escape(json, 0xD800 + ((code - 0x10000) >> 10));
      append_escape(json, 0xDC00 + ((code - 0x10000) & 0x3FF));
      at += length;
    } else {
      append_escape(json, code);
      at += length;
    }
  }
  return json + "\"";
}

}  // namespace upgrade_info
