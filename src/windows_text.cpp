#include "windows_text.h"

#include <windows.h>

namespace upgrade_info {

namespace {

std::wstring widened(std::string_view text, UINT code_page) {
  const int length = MultiByteToWideChar(
      code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), length);
  return wide;
}

// A character the code page lacks becomes a question mark, never a
// best-fit neighbour that would name another file.
std::string narrowed(std::wstring_view text, UINT code_page) {
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length = WideCharToMultiByte(code_page, flags, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, text.data(),
                      static_cast<int>(text.size()), narrow.data(), length,
                      nullptr, nullptr);
  return narrow;
}

}  // namespace

std::wstring utf16_from(std::string_view utf8) {
  return widened(utf8, CP_UTF8);
}

std::string utf8_from(std::wstring_view utf16) {
  return narrowed(utf16, CP_UTF8);
}

std::string ansi_from(std::wstring_view utf16) {
  return narrowed(utf16, CP_ACP);
}

std::wstring native_path(const char* utf8) {
  std::wstring path = utf16_from(utf8);
  // A temporary beside the file adds a few characters to its name.
  constexpr std::size_t ROOM_FOR_A_TEMPORARY = 16;
  if (path.size() + ROOM_FOR_A_TEMPORARY < MAX_PATH ||
      path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
    return path;
  }
  const std::wstring full = full_path(path);
  // \\server\share\... is \\?\UNC\server\share\...
  return full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2)
                                   : L"\\\\?\\" + full;
}

std::wstring full_path(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), length, full.data(), nullptr));
  return full.empty() ? path : full;
}

}  // namespace upgrade_info
