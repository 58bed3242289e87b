#ifndef UPGRADE_INFO_IO_WINDOWS_TEXT_H_
#define UPGRADE_INFO_IO_WINDOWS_TEXT_H_

// Names and text between the program's own form of them and the UTF-16 of
// Windows' wide functions, which alone reach every file and console
// exactly.
//
// The program's form is WTF-8: UTF-8 that also encodes a lone surrogate,
// as UTF-8 encodes any other code point. A Windows name may hold one, which
// UTF-8 proper would turn into U+FFFD, the name of another file; WTF-8
// gives back every name exactly as it came.

#include <string>
#include <string_view>

namespace upgrade_info {

std::wstring utf16_from(std::string_view wtf8);
std::string wtf8_from(std::wstring_view utf16);
// As the ANSI code page has it, where that is how text went before: a
// character the code page lacks becomes a question mark, never a best-fit
// neighbour that would name another file.
std::string ansi_from(std::wstring_view utf16);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_WINDOWS_TEXT_H_
