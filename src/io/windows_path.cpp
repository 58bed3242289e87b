#include "io/windows_path.h"

#include <windows.h>

#include "io/windows_text.h"

namespace upgrade_info {

std::wstring native_path(const char* wtf8) {
  std::wstring path = utf16_from(wtf8);
  // A \\?\ path, spelled with backslashes or slashes, is taken as it is,
  // with no change to its names (trailing dots and spaces stay) and no
  // further prefix; only its slashes become the backslashes it needs.
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 4 && separator(path[0]) && separator(path[1]) &&
      path[2] == L'?' && separator(path[3])) {
    for (wchar_t& c : path) {
      c = c == L'/' ? L'\\' : c;
    }
    return path;
  }
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()),
                               full.data(), nullptr));
  if (full.empty()) {
    return path;
  }
  // A temporary beside the file adds a few characters to its name.
  constexpr std::size_t ROOM_FOR_A_TEMPORARY = 16;
  if (full.size() + ROOM_FOR_A_TEMPORARY < MAX_PATH ||
      full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
    return full;
  }
  // \\server\share\... is \\?\UNC\server\share\...
  return full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2)
                                   : L"\\\\?\\" + full;
}

}  // namespace upgrade_info
