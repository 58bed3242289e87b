// The temporary of a named output on Windows: a file beside the
// destination, open with every sharing, so that Ctrl-C can remove it, and
// renamed over the destination through its own handle, which keeps the
// name as the file system spells it. A rename happens whole or not at all:
// no failure leaves the destination without its old contents.

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "io/temporary_name.h"
#include "replacement/attributes.h"
#include "replacement/destination_windows.h"
#include "replacement/temporary.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The temporary that Ctrl-C must not leave behind.
std::wstring pending_path;

void remove_pending_temporary() { DeleteFileW(pending_path.c_str()); }

// Errors of another program holding the destination for a moment (a virus
// scanner, an indexer, an editor).
bool is_transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

bool rename_over(const file_handle& temporary, const std::wstring& path) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    path.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::copy(path.begin(), path.end(), info->FileName);
  return SetFileInformationByHandle(temporary.get(), FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

file_handle create_temporary(destination& target, temporary_outcome& outcome) {
  const std::wstring directory = directory_of(target.path);
  const std::wstring_view name =
      std::wstring_view(target.path).substr(directory.size());
  for (int attempt = 0; attempt < 100; ++attempt) {
    // The longest name NTFS takes.
    const std::wstring temporary =
        directory + temporary_name_for(name, std::size_t{255});
    const HANDLE made = CreateFileW(
        temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, SHARE_ALL,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made != INVALID_HANDLE_VALUE) {
      target.temporary = pending_path = temporary;
      set_termination_cleanup(remove_pending_temporary);
      file_handle file(made);
      if (target.file && keep_access(target.file, file) != access_kept::yes) {
        discard_temporary(target);
        outcome = temporary_outcome::in_place;
        return {};
      }
      outcome = temporary_outcome::made;
      return file;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      outcome = error == ERROR_ACCESS_DENIED ? temporary_outcome::in_place
                                             : temporary_outcome::failed;
      return {};
    }
  }
  outcome = temporary_outcome::failed;
  return {};
}

commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held&) {
  // Another program may hold the destination for a moment; keep trying
  // for about a second.
  for (int attempt = 0;; ++attempt) {
    if (target.exists && !target.file) {
      target.file = open_to_write(target.path, target.readable);
      if (target.file &&
          keep_access(target.file, temporary) != access_kept::yes) {
        discard_temporary(target);
        return commit_outcome::in_place;
      }
    }
    if (target.file && !names_file(target.path, target.file)) {
      break;
    }
    // No file with a handle open can be replaced.
    target.file.close();
    if (rename_over(temporary, target.path)) {
      target.temporary.clear();
      clear_termination_cleanup();
      return commit_outcome::replaced;
    }
    if (!is_transient(GetLastError()) || attempt == 20) {
      break;
    }
    Sleep(50);
  }
  discard_temporary(target);
  return commit_outcome::failed;
}

void discard_temporary(destination& target) {
  if (!target.temporary.empty()) {
    clear_termination_cleanup();
    DeleteFileW(target.temporary.c_str());
    target.temporary.clear();
  }
}

}  // namespace upgrade_info
