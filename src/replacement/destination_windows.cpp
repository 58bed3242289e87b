// Opening a named output on Windows. What the name reaches is looked at
// asking for no access to its contents, which no other program's sharing
// can refuse (cmd.exe shares a redirected file only to read and delete),
// and what it is decides how it is written: a file of a disk is replaced;
// anything else (NUL, COM1, a pipe, a volume, a device) is written where it
// stands, however the name is spelled. The system says who may write it
// by opening it to write, as any program writing it would.

#include "replacement/destination_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <initializer_list>
#include <string_view>
#include <vector>

#include "io/windows_path.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

file_handle open_existing(const std::wstring& path, DWORD access,
                          DWORD flags = 0) {
  return file_handle(CreateFileW(path.c_str(), access, SHARE_ALL, nullptr,
                                 OPEN_EXISTING, flags, nullptr));
}

std::FILE* stream_over(file_handle file) {
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY);
  if (descriptor < 0) {
    return nullptr;
  }
  file.release();  // the descriptor closes it
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) {
    _close(descriptor);
  }
  return stream;
}

// A stream that writes through a copy of the caller's handle.
std::FILE* stream_through(HANDLE callers) {
  HANDLE copy = nullptr;
  const HANDLE process = GetCurrentProcess();
  if (DuplicateHandle(process, callers, process, &copy, 0, FALSE,
                      DUPLICATE_SAME_ACCESS) == 0) {
    return nullptr;
  }
  return stream_over(file_handle(copy));
}

// The full path of the open file, as the file system spells it.
std::wstring final_path(const file_handle& file) {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(
        file.get(), path.data(), static_cast<DWORD>(path.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      return {path.data(), length};
    }
    path.resize(length + 1);
  }
}

// Whether a new file may be made at `path`: made there, gone when closed.
// A device name (COM9) that no device answers is no place for a file.
bool may_make(const std::wstring& path) {
  const file_handle made(CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL,
                                     nullptr, CREATE_NEW,
                                     FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return made && GetFileType(made.get()) == FILE_TYPE_DISK;
}

// Whether the last part of `path` names a stream of a file, as info.txt:meta
// does: a part of the file, which no other file can replace.
bool names_a_stream(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return path.find(L':', last == std::wstring::npos ? 0 : last) !=
         std::wstring::npos;
}

}  // namespace

void destination_deleter::operator()(destination* target) const {
  delete target;
}

file_handle look_at(const std::wstring& path) {
  return open_existing(path, READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_READ_EA,
                       FILE_FLAG_BACKUP_SEMANTICS);
}

// A volume (\\.\C:), a disk (\\.\PhysicalDrive1) or a device that a file
// system holds is FILE_TYPE_DISK too, but has no attributes of a file, or
// no name in a folder.
bool is_disk_file(const file_handle& file) {
  FILE_BASIC_INFO basic{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK ||
      GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic,
                                   sizeof basic) == 0 ||
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  const std::wstring path = final_path(file);
  return !path.empty() && path.back() != L'\\';
}

std::wstring directory_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Windows has no FIFO that a name opens.
opened_destination open_destination(const char* name, bool) {
  opened_destination opened;
  destination_ptr target(new destination);
  target->path = native_path(name);
  target->stream = names_a_stream(target->path);
  const file_handle looked = look_at(target->path);
  if (!looked) {
    // Nothing there, not even a link to nothing, which would be replaced
    // itself rather than followed; and a name a file may take.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && !target->stream &&
        !open_existing(
            target->path, FILE_READ_ATTRIBUTES,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS) &&
        may_make(target->path)) {
      opened.kind = reached::missing;
      opened.target = std::move(target);
    }
    return opened;
  }
  if (!is_disk_file(looked)) {
    opened.stream = stream_over(open_existing(target->path, GENERIC_WRITE));
    opened.kind = opened.stream ? reached::stream : reached::refused;
    return opened;
  }
  // A file the caller has open as standard output or error is written
  // through that handle, after what its other writers wrote.
  for (const DWORD standard : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE callers = GetStdHandle(standard);
    if (callers != nullptr && callers != INVALID_HANDLE_VALUE &&
        same_file(callers, looked.get())) {
      opened.stream = stream_through(callers);
      opened.kind = opened.stream ? reached::stream : reached::refused;
      return opened;
    }
  }
  const std::wstring spelled = final_path(looked);
  const std::optional<file_identity> identity = identity_of(looked.get());
  // The system's word on who may write it; another program that holds it
  // for a moment (a virus scanner, an indexer) is waited for at the commit.
  if (spelled.empty() || !identity ||
      (!open_existing(spelled, GENERIC_WRITE) &&
       GetLastError() != ERROR_SHARING_VIOLATION)) {
    return opened;
  }
  target->path = spelled;
  target->identity = *identity;
  target->exists = true;
  opened.kind = reached::file;
  opened.target = std::move(target);
  return opened;
}

// Opened to write, and to read where the user may, only now: a file with a
// handle open cannot be replaced by another run meanwhile.
// Another program may hold it for a moment, as at the commit: it is tried
// for about a second.
file_handle& destination_file(destination& target) {
  for (int attempt = 0; !target.file && attempt <= 20; ++attempt) {
    if (attempt > 0) {
      Sleep(50);
    }
    target.readable = true;
    target.file = open_existing(target.path, GENERIC_READ | GENERIC_WRITE);
    if (!target.file && GetLastError() == ERROR_ACCESS_DENIED) {
      target.readable = false;
      target.file = open_existing(target.path, GENERIC_WRITE);
    }
    if (!target.file && GetLastError() != ERROR_SHARING_VIOLATION &&
        GetLastError() != ERROR_LOCK_VIOLATION) {
      break;
    }
  }
  const std::optional<file_identity> opened =
      target.file ? identity_of(target.file.get()) : std::nullopt;
  if (!opened || !same_identity(*opened, target.identity)) {
    target.file.close();
  }
  return target.file;
}

bool destination_readable(const destination& target) { return target.readable; }

bool still_reached(const destination& target) {
  const file_handle looked = look_at(target.path);
  return looked && same_file(looked.get(), target.file.get());
}

}  // namespace upgrade_info
