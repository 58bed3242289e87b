#include <windows.h>

#include <vector>

#include "io/spill.h"
#include "io/windows_text.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A new file of a fresh name in the temporary directory, made with
// `flags`, and its path; none when it cannot be made.
file_handle new_temporary_file(DWORD flags, std::wstring& path) {
  std::vector<wchar_t> directory(MAX_PATH + 1);
  const DWORD length =
      GetTempPathW(static_cast<DWORD>(directory.size()), directory.data());
  // GetTempFileNameW takes a directory of at most MAX_PATH - 14
  // characters, and writes at most MAX_PATH into its buffer.
  wchar_t name[MAX_PATH];
  if (length == 0 || length > MAX_PATH - 14 ||
      GetTempFileNameW(directory.data(), L"uif", 0, name) == 0) {
    errno_from_last_error();
    return {};
  }
  path = name;
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, SHARE_ALL,
                                  nullptr, CREATE_ALWAYS, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno_from_last_error();
    DeleteFileW(name);
  }
  return file_handle(file);
}

}  // namespace

file_handle create_spill() {
  std::wstring path;
  return new_temporary_file(
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, path);
}

file_handle create_named_spill(std::string& path) {
  std::wstring wide;
  file_handle file = new_temporary_file(FILE_ATTRIBUTE_NORMAL, wide);
  path = wtf8_from(wide);
  return file;
}

bool remove_named_spill(const std::string& path) {
  return DeleteFileW(utf16_from(path).c_str()) != 0;
}

}  // namespace upgrade_info
