#include "io/windows_text.h"

#include <windows.h>

namespace upgrade_info {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// The code point that starts at `at`, which moves past it; U+FFFD for a
// byte that starts none.
char32_t next_code_point(std::string_view wtf8, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(wtf8[at++]);
  const int more = lead < 0x80   ? 0
                   : lead < 0xC2 ? -1
                   : lead < 0xE0 ? 1
                   : lead < 0xF0 ? 2
                   : lead < 0xF5 ? 3
                                 : -1;
  if (more < 0) {
    return REPLACEMENT;
  }
  char32_t code = more == 0 ? lead : lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if (at == wtf8.size() ||
        (static_cast<unsigned char>(wtf8[at]) & 0xC0) != 0x80) {
      return REPLACEMENT;
    }
    code = code << 6 | (static_cast<unsigned char>(wtf8[at++]) & 0x3F);
  }
  const char32_t shortest[] = {0, 0x80, 0x800, 0x10000};
  return code < shortest[more] || code > 0x10FFFF ? REPLACEMENT : code;
}

void append_wtf8(std::string& text, char32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
    return;
  }
  constexpr unsigned char LEAD[] = {0, 0xC0, 0xE0, 0xF0};
  const int more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  text += static_cast<char>(LEAD[more] | (code >> (6 * more)));
  for (int i = more - 1; i >= 0; --i) {
    text += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
  }
}

}  // namespace

std::wstring utf16_from(std::string_view wtf8) {
  std::wstring wide;
  for (std::size_t at = 0; at < wtf8.size();) {
    const char32_t code = next_code_point(wtf8, at);
    if (code >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(code);
    }
  }
  return wide;
}

std::string wtf8_from(std::wstring_view utf16) {
  std::string text;
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    char32_t code = static_cast<char16_t>(utf16[at]);
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < utf16.size()) {
      const char32_t low = static_cast<char16_t>(utf16[at + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++at;
      }
    }
    append_wtf8(text, code);
  }
  return text;
}

std::string ansi_from(std::wstring_view utf16) {
  const auto convert = [&](DWORD flags, char* narrow, int size) {
    return WideCharToMultiByte(CP_ACP, flags, utf16.data(),
                               static_cast<int>(utf16.size()), narrow, size,
                               nullptr, nullptr);
  };
  // Some code pages, UTF-8 among them, take no flags.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int length = convert(flags, nullptr, 0);
  if (length == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    length = convert(flags, nullptr, 0);
  }
  std::string narrow(static_cast<std::size_t>(length), '\0');
  convert(flags, narrow.data(), length);
  return narrow;
}

}  // namespace upgrade_info
