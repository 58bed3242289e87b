#ifndef UPGRADE_INFO_WINDOWS_TEXT_H_
#define UPGRADE_INFO_WINDOWS_TEXT_H_

// Names and text between the program's UTF-8 and the UTF-16 of Windows'
// wide functions, which alone reach every file and console exactly.

#include <string>
#include <string_view>

namespace upgrade_info {

std::wstring utf16_from(std::string_view utf8);
std::string utf8_from(std::wstring_view utf16);
// As the ANSI code page has it, where that is how text went before.
std::string ansi_from(std::wstring_view utf16);

// A path as Windows' wide file functions take it at any length: beyond the
// 260 characters of MAX_PATH, the \\?\ form of its absolute path.
std::wstring native_path(const char* utf8);

// The absolute form of `path`, or `path` itself when it has none.
std::wstring full_path(const std::wstring& path);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_WINDOWS_TEXT_H_
