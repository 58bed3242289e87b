// Opening a named output on Windows. The system opens it as it opens a
// file to write it, applying its rules on who may write what (security
// descriptors, read-only files); what it opened decides how it is written:
// a disk file is replaced, anything else (NUL, COM1, a pipe) is written
// where it stands, however the name is spelled.

#include "replacement/destination_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <initializer_list>
#include <vector>

#include "io/windows_path.h"

namespace upgrade_info {

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::FILE* stream_over(file_handle file) {
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY);
  if (descriptor < 0) {
    return nullptr;
  }
  (void)file.release();
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
  const HANDLE made =
      CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_NEW,
                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool disk = GetFileType(made) == FILE_TYPE_DISK;
  CloseHandle(made);
  return disk;
}

}  // namespace

void destination_deleter::operator()(destination* target) const {
  delete target;
}

// A file that may be written but not read, and a device that opens only to
// write (CON), are opened to write alone.
file_handle open_to_write(const std::wstring& path, bool& readable) {
  readable = true;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND &&
      error != ERROR_SHARING_VIOLATION) {
    readable = false;
    file = CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return file_handle(file);
}

bool names_file(const std::wstring& path, const file_handle& file) {
  const file_handle named(CreateFileW(path.c_str(), 0, SHARE_ALL, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
  return named && same_file(named.get(), file.get());
}

std::wstring directory_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Windows has no FIFO that a name opens.
opened_destination open_destination(const char* name, bool) {
  opened_destination opened;
  destination_ptr target(new destination);
  target->path = native_path(name);
  target->file = open_to_write(target->path, target->readable);
  const DWORD error = GetLastError();
  if (target->file) {
    if (GetFileType(target->file.get()) != FILE_TYPE_DISK) {
      opened.stream = stream_over(std::move(target->file));
      opened.kind =
          opened.stream != nullptr ? reached::stream : reached::refused;
      return opened;
    }
    // A file the caller has open as standard output or error is written
    // through that handle, after what its other writers wrote.
    for (const DWORD standard : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      const HANDLE callers = GetStdHandle(standard);
      if (callers != nullptr && callers != INVALID_HANDLE_VALUE &&
          same_file(callers, target->file.get())) {
        opened.stream = stream_through(callers);
        opened.kind =
            opened.stream != nullptr ? reached::stream : reached::refused;
        return opened;
      }
    }
    const std::wstring spelled = final_path(target->file);
    if (!spelled.empty()) {
      target->path = spelled;
    }
    target->exists = true;
    opened.kind = reached::file;
  } else if (error == ERROR_SHARING_VIOLATION) {
    // Another program holds it for a moment (a virus scanner, an indexer):
    // it is opened when the new contents are there to replace it.
    target->exists = true;
    opened.kind = reached::file;
  } else if (error == ERROR_FILE_NOT_FOUND && may_make(target->path)) {
    opened.kind = reached::missing;
  } else {
    return opened;
  }
  opened.target = std::move(target);
  return opened;
}

file_handle& destination_file(destination& target) { return target.file; }

bool destination_readable(const destination& target) { return target.readable; }

bool still_reached(const destination& target) {
  return !target.file || names_file(target.path, target.file);
}

}  // namespace upgrade_info
