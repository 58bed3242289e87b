// The temporary of a named output on Windows: a file beside the
// destination, marked to go when its handle closes from the call after its
// making to the one before its rename, so that no way the process ends in
// between (Ctrl-C, a console closed, a logoff, a kill) leaves it behind,
// and renamed over the destination through its own handle, which keeps
// the name as the file system spells it. A rename happens whole or not at
// all: no failure leaves the destination without its old contents.

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

// With POSIX semantics where the system has them (Windows 10 on NTFS), so
// that a file another program holds open, as cmd.exe holds a redirected
// one, is replaced all the same where it lets it be deleted.
bool rename_over(const file_handle& temporary, const std::wstring& path) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    path.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags =
      FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::copy(path.begin(), path.end(), info->FileName);
  const auto size = static_cast<DWORD>(buffer.size());
  // FileRenameInfoEx, which the headers declare only for later targets.
  constexpr auto RENAME_INFO_EX = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  if (SetFileInformationByHandle(temporary.get(), RENAME_INFO_EX, info, size) !=
      0) {
    return true;
  }
  if (GetLastError() != ERROR_INVALID_PARAMETER &&
      GetLastError() != ERROR_NOT_SUPPORTED) {
    return false;
  }
  info->Flags = 0;
  info->ReplaceIfExists = TRUE;
  return SetFileInformationByHandle(temporary.get(), FileRenameInfo, info,
                                    size) != 0;
}

enum class replaceable { yes, refused, held, failed };

// The system's word on whether the user may replace the file looked at:
// one the user may not delete (a folder that grants Write but not Delete)
// is written in place; one another program holds for a moment is waited
// for.
replaceable may_replace(const destination& target) {
  const file_handle deleting(CreateFileW(target.path.c_str(), DELETE, SHARE_ALL,
                                         nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const DWORD error = GetLastError();
  return deleting                           ? replaceable::yes
         : error == ERROR_ACCESS_DENIED     ? replaceable::refused
         : error == ERROR_SHARING_VIOLATION ? replaceable::held
                                            : replaceable::failed;
}

}  // namespace

file_handle create_temporary(destination& target, temporary_outcome& outcome) {
  outcome = temporary_outcome::in_place;
  // A stream is a part of its file: it is written in place.
  if (target.stream) {
    return {};
  }
  const std::wstring directory = directory_of(target.path);
  const std::wstring_view name =
      std::wstring_view(target.path).substr(directory.size());
  // The longest name NTFS takes; a file system that counts its names in
  // bytes (SMB shares, \\wsl$) may take fewer, and says so, as wine says
  // of a Linux one that the name is not found.
  std::size_t longest = 255;
  // Ctrl-C waits until the temporary is marked to go.
  const termination_held held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring temporary =
        directory + temporary_name_for(name, longest);
    file_handle file(CreateFileW(
        temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, SHARE_ALL,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = GetLastError();
    if (file) {
      if (!mark_to_go(file, true)) {
        file.close();
        DeleteFileW(temporary.c_str());
        break;
      }
      target.temporary = temporary;
      outcome = temporary_outcome::made;
      return file;
    }
    if ((error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME ||
         error == ERROR_FILE_NOT_FOUND) &&
        longest > 32) {
      longest -= 16;
    } else if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      outcome = error == ERROR_ACCESS_DENIED ? temporary_outcome::in_place
                                             : temporary_outcome::failed;
      return {};
    }
  }
  outcome = temporary_outcome::failed;
  return {};
}

commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held& held) {
  commit_outcome outcome = commit_outcome::failed;
  // Another program may hold the destination for a moment; it is tried
  // for about a second.
  for (int attempt = 0; attempt <= 20 && !held.pending(); ++attempt) {
    if (attempt > 0) {
      Sleep(50);
    }
    // What the name reaches now is what is replaced, and gives its access.
    replaceable allowed = replaceable::yes;
    {
      const file_handle looked = look_at(target.path);
      if (!looked && GetLastError() != ERROR_FILE_NOT_FOUND) {
        break;
      }
      if (looked) {
        const access_kept access = is_disk_file(looked)
                                       ? keep_access(looked, temporary)
                                       : access_kept::failed;
        if (access == access_kept::refused) {
          outcome = commit_outcome::in_place;
        }
        if (access != access_kept::yes) {
          break;
        }
        allowed = may_replace(target);
      }
    }
    if (allowed == replaceable::refused) {
      outcome = commit_outcome::in_place;
    }
    if (allowed == replaceable::refused || allowed == replaceable::failed) {
      break;
    }
    if (allowed == replaceable::held) {
      continue;
    }
    if (!mark_to_go(temporary, false)) {
      break;
    }
    // A Ctrl-C that came meanwhile stops a change not yet made.
    if (held.pending()) {
      mark_to_go(temporary, true);
      break;
    }
    if (rename_over(temporary, target.path)) {
      target.temporary.clear();
      return commit_outcome::replaced;
    }
    // Refused while another program holds the file, even one that lets it
    // be deleted; anything else is a failure.
    const DWORD error = GetLastError();
    mark_to_go(temporary, true);
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
        error != ERROR_LOCK_VIOLATION) {
      break;
    }
  }
  discard_temporary(target);
  return outcome;
}

void discard_temporary(destination& target) {
  if (!target.temporary.empty()) {
    DeleteFileW(target.temporary.c_str());
    target.temporary.clear();
  }
}

}  // namespace upgrade_info
