#ifndef UPGRADE_INFO_IO_WINDOWS_PATH_H_
#define UPGRADE_INFO_IO_WINDOWS_PATH_H_

#include <string>

namespace upgrade_info {

// A name, in the program's form (see windows_text.h), as Windows' wide file
// functions take it at any length: absolute, and beyond the 260 characters
// of MAX_PATH, in its \\?\ form.
std::wstring native_path(const char* wtf8);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_WINDOWS_PATH_H_
