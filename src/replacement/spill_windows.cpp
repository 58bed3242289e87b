#include <windows.h>

#include "io/windows_text.h"
#include "replacement/spill.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A new file of a fresh name in the temporary directory, made with
// `flags`, and its path; none when it cannot be made.
file_handle new_temporary_file(DWORD flags, std::wstring& path) {
  wchar_t directory[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, directory) == 0 ||
      GetTempFileNameW(directory, L"uif", 0, name) == 0) {
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

std::optional<std::string> keep_copy(const file_handle& contents,
                                     std::uint64_t length) {
  std::wstring path;
  file_handle copy = new_temporary_file(FILE_ATTRIBUTE_NORMAL, path);
  if (!copy) {
    return std::nullopt;
  }
  if (!copy_contents(contents, copy, length) || !copy.close()) {
    DeleteFileW(path.c_str());
    return std::nullopt;
  }
  return wtf8_from(path);
}

}  // namespace upgrade_info
