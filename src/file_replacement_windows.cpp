// Replacing a named output on Windows: the new contents go to a temporary
// file beside the destination, moved over it once complete.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "file_replacement.h"
#include "temporary_name.h"
#include "termination_cleanup.h"

namespace upgrade_info::file_replacement {

struct destination {
  std::string path;       // as given
  bool exists = false;    // an existing file, else a new one is to be made
  std::string temporary;  // the temporary's path, while it exists
};

void destination_closer::operator()(destination* opened) const {
  delete opened;
}

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::size_t PIECE = std::size_t{1} << 20;

// The temporary that an interrupt must not leave behind.
std::string pending_path;

void remove_pending_temporary() { DeleteFileA(pending_path.c_str()); }

void remove_temporary(destination& target) {
  if (!target.temporary.empty()) {
    clear_termination_cleanup();
    DeleteFileA(target.temporary.c_str());
    target.temporary.clear();
  }
}

bool is_transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// Opening for no access at all tells a disk file from a device such as NUL
// or CON, or a pipe; a directory fails to open this way.
reached kind_of(const char* path) {
  const HANDLE probe = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? reached::missing
                                                  : reached::refused;
  }
  const DWORD type = GetFileType(probe);
  CloseHandle(probe);
  return type == FILE_TYPE_DISK ? reached::file : reached::stream;
}

// Whether this process may write the existing file at `path`; one that
// another program holds for a moment may be, and its replacement retries.
bool may_write(const char* path) {
  const HANDLE file =
      CreateFileA(path, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  CloseHandle(file);
  return true;
}

// Writes the whole of `contents` over the file at `path` from its start,
// once its new size is reserved, and cuts it to that size.
bool overwrite(const std::string& path, std::FILE* contents) {
  const __int64 size = _filelengthi64(_fileno(contents));
  const HANDLE target =
      CreateFileA(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (size < 0 || target == INVALID_HANDLE_VALUE) {
    return false;
  }
  LARGE_INTEGER current{};
  LARGE_INTEGER end{};
  end.QuadPart = size;
  // Extending the file allocates its room: a full disk fails here, before
  // anything is overwritten.
  bool written =
      GetFileSizeEx(target, &current) != 0 &&
      (current.QuadPart >= size ||
       (SetFilePointerEx(target, end, nullptr, FILE_BEGIN) != 0 &&
        SetEndOfFile(target) != 0)) &&
      SetFilePointerEx(target, LARGE_INTEGER{}, nullptr, FILE_BEGIN) != 0 &&
      std::fseek(contents, 0, SEEK_SET) == 0;
  std::string piece(PIECE, '\0');
  while (written) {
    const std::size_t got = std::fread(piece.data(), 1, piece.size(), contents);
    DWORD put = 0;
    written = std::ferror(contents) == 0 &&
              WriteFile(target, piece.data(), static_cast<DWORD>(got), &put,
                        nullptr) != 0 &&
              put == got;
    if (got < piece.size()) {
      break;
    }
  }
  written = written &&
            SetFilePointerEx(target, end, nullptr, FILE_BEGIN) != 0 &&
            SetEndOfFile(target) != 0;
  return CloseHandle(target) != 0 && written;
}

}  // namespace

void treat_file_size_limit_as_write_error() {}

opened_destination open_destination(const char* name) {
  opened_destination opened;
  opened.kind = kind_of(name);
  if (opened.kind == reached::stream) {
    opened.stream = std::fopen(name, "wb");
    if (opened.stream == nullptr) {
      opened.kind = reached::refused;
    }
    return opened;
  }
  const DWORD attributes = GetFileAttributesA(name);
  if (opened.kind == reached::file &&
      ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) !=
           0 ||
       !may_write(name))) {
    opened.kind = reached::refused;
  }
  if (opened.kind != reached::refused) {
    opened.file.reset(new destination{name, opened.kind == reached::file, {}});
  }
  return opened;
}

std::FILE* create_temporary(destination& target, temporary_outcome& outcome) {
  const std::string_view path = target.path;
  // Just past the last separator; npos + 1 is 0 for a bare file name.
  const std::size_t cut = path.find_last_of("/\\:") + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary(path.substr(0, cut));
    temporary += temporary_name_for(path.substr(cut), MAX_PATH - 5);
    const int file =
        _open(temporary.c_str(),
              _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
              _S_IREAD | _S_IWRITE);
    if (file >= 0) {
      target.temporary = pending_path = temporary;
      set_termination_cleanup(remove_pending_temporary);
      std::FILE* stream = _fdopen(file, "w+b");
      if (stream == nullptr) {
        _close(file);
        remove_temporary(target);
        break;
      }
      outcome = temporary_outcome::made;
      return stream;
    }
    if (errno != EEXIST) {
      outcome = errno == EACCES ? temporary_outcome::refused
                                : temporary_outcome::failed;
      return nullptr;
    }
  }
  outcome = temporary_outcome::failed;
  return nullptr;
}

std::FILE* create_spill() {
  char directory[MAX_PATH + 1];
  char path[MAX_PATH + 1];
  if (GetTempPathA(sizeof directory, directory) == 0 ||
      GetTempFileNameA(directory, "uif", 0, path) == 0) {
    return nullptr;
  }
  const HANDLE file = CreateFileA(
      path, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_ALWAYS,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileA(path);
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  std::FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
  if (stream == nullptr) {
    if (descriptor < 0) {
      CloseHandle(file);
    } else {
      _close(descriptor);
    }
  }
  return stream;
}

bool commit_temporary(destination& target, std::FILE* temporary) {
  const bool written = std::fflush(temporary) == 0 &&
                       std::ferror(temporary) == 0 &&
                       std::fclose(temporary) == 0;
  // Another program (a virus scanner, an indexer, an editor) may hold the
  // destination open for a moment; keep trying for about a second.
  for (int attempt = 0; written; ++attempt) {
    if (MoveFileExA(target.temporary.c_str(), target.path.c_str(),
                    MOVEFILE_REPLACE_EXISTING)) {
      clear_termination_cleanup();
      target.temporary.clear();
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_NOT_SAME_DEVICE && target.exists) {
      std::FILE* contents = std::fopen(target.temporary.c_str(), "rb");
      const bool committed =
          contents != nullptr && overwrite(target.path, contents);
      if (contents != nullptr) {
        std::fclose(contents);
      }
      remove_temporary(target);
      return committed;
    }
    if (!is_transient(error) || attempt == 20) {
      break;
    }
    Sleep(50);
  }
  remove_temporary(target);
  return false;
}

void discard_temporary(destination& target, std::FILE* temporary) {
  std::fclose(temporary);
  remove_temporary(target);
}

bool write_in_place(destination& target, std::FILE* contents) {
  return std::fflush(contents) == 0 && std::ferror(contents) == 0 &&
         overwrite(target.path, contents);
}

}  // namespace upgrade_info::file_replacement
