#include <windows.h>

#include <initializer_list>

#include "io/spill.h"
#include "io/temporary_name.h"
#include "io/windows_path.h"
#include "io/windows_text.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A new file of a fresh name in the temporary directory, made with
// `flags`, and its path; none when it cannot be made. Made whole with its
// flags in one call, so that nothing that ends the process meanwhile can
// leave it without them.
file_handle new_temporary_file(DWORD flags, std::wstring& path) {
  // Where GetTempPathW looks, which it cuts at MAX_PATH.
  std::wstring directory;
  for (const wchar_t* variable : {L"TMP", L"TEMP", L"USERPROFILE"}) {
    directory.resize(GetEnvironmentVariableW(variable, nullptr, 0));
    directory.resize(GetEnvironmentVariableW(
        variable, directory.data(), static_cast<DWORD>(directory.size())));
    if (!directory.empty()) {
      break;
    }
  }
  if (directory.empty()) {
    errno_from_last_error();
    return {};
  }
  if (directory.back() != L'\\' && directory.back() != L'/') {
    directory += L'\\';
  }
  const std::string folder = wtf8_from(directory);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = native_path(
        (folder + temporary_name_for<char>("upgrade-info-saved", 64)).c_str());
    // DELETE, which marking it to go needs.
    file_handle file(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    SHARE_ALL, nullptr, CREATE_NEW, flags, nullptr));
    if (file || GetLastError() != ERROR_FILE_EXISTS) {
      errno_from_last_error();
      return file;
    }
  }
  return {};
}

}  // namespace

file_handle create_spill() {
  std::wstring path;
  return new_temporary_file(
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, path);
}

saved_copy::saved_copy() {
  std::wstring path;
  file_ = new_temporary_file(FILE_ATTRIBUTE_NORMAL, path);
  if (file_ && !mark_to_go(file_, true)) {
    file_.close();
    DeleteFileW(path.c_str());
  }
  path_ = file_ ? wtf8_from(path) : std::string();
}

bool saved_copy::whole() { return mark_to_go(file_, false); }

bool saved_copy::discard() {
  file_.close();
  if (!path_.empty() && DeleteFileW(utf16_from(path_).c_str()) == 0) {
    return false;
  }
  path_.clear();
  return true;
}

}  // namespace upgrade_info
