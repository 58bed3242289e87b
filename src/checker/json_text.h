#ifndef UPGRADE_INFO_CHECKER_JSON_TEXT_H_
#define UPGRADE_INFO_CHECKER_JSON_TEXT_H_

// Names as JSON strings. The string is ASCII alone, so that it passes
// every code page and console unchanged: each other character is written
// as its \u escape (two, a surrogate pair, beyond U+FFFF), and every name
// comes back exactly from it.

#include <string>
#include <string_view>

namespace upgrade_info {

// What a name's bytes are.
enum class name_bytes {
  // A POSIX name, bytes that are mostly UTF-8: a byte that starts no UTF-8
  // character is written \udcXY for its value 0xXY, as Python's
  // "surrogateescape" reads such a byte. No character of UTF-8 is a
  // surrogate, so no such escape stands for one.
  utf8,
  // A Windows name in the program's WTF-8: its UTF-16 whole, a lone
  // surrogate written as its own escape.
  wtf8,
};

#ifdef _WIN32
inline constexpr name_bytes NATIVE_NAME_BYTES = name_bytes::wtf8;
#else
inline constexpr name_bytes NATIVE_NAME_BYTES = name_bytes::utf8;
#endif

// `text` as a JSON string, quotes included.
std::string json_string(std::string_view text,
                        name_bytes form = NATIVE_NAME_BYTES);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKER_JSON_TEXT_H_
