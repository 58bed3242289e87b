// Replacing a named output on Windows. Every name goes to the wide file
// functions as the user typed it, at any length (see windows_text.h). The
// new contents go to a temporary file beside the destination; ReplaceFileW
// then puts it in the place of an existing file, which keeps that file's
// attributes (hidden, system) and its security descriptor, and a new file
// is moved in.

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
#include "windows_text.h"

namespace upgrade_info::file_replacement {

struct destination {
  std::wstring path;       // as the wide file functions take it
  bool exists = false;     // an existing file, else a new one is to be made
  std::wstring temporary;  // the temporary's path, while it exists
};

void destination_closer::operator()(destination* opened) const {
  delete opened;
}

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::size_t PIECE = std::size_t{1} << 20;

// The temporary that an interrupt must not leave behind.
std::wstring pending_path;

void remove_pending_temporary() { DeleteFileW(pending_path.c_str()); }

void remove_temporary(destination& target) {
  if (!target.temporary.empty()) {
    clear_termination_cleanup();
    DeleteFileW(target.temporary.c_str());
    target.temporary.clear();
  }
}

// Errors of another program holding the destination for a moment (a virus
// scanner, an indexer, an editor).
bool is_transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
         error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// Whether `path` ends in a name that Windows keeps for a device in every
// directory (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9), whatever its
// case and whatever follows a dot, or is a device path (\\.\...).
bool names_a_device(std::wstring_view path) {
  if (path.starts_with(L"\\\\.\\")) {
    return true;
  }
  std::wstring_view name = path.substr(path.find_last_of(L"/\\:") + 1);
  name = name.substr(0, name.find_first_of(L". :"));
  std::wstring upper(name);
  for (wchar_t& c : upper) {
    c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  }
  if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" ||
      upper == L"NUL") {
    return true;
  }
  return upper.size() == 4 &&
         (upper.starts_with(L"COM") || upper.starts_with(L"LPT")) &&
         upper[3] >= L'1' && upper[3] <= L'9';
}

std::FILE* stream_over(HANDLE file, const char* mode) {
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  std::FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, mode);
  if (stream == nullptr) {
    if (descriptor < 0) {
      CloseHandle(file);
    } else {
      _close(descriptor);
    }
  }
  return stream;
}

// Opening for no access at all tells a disk file from a device or a pipe;
// a directory fails to open this way.
reached kind_of(const std::wstring& path) {
  const HANDLE probe =
      CreateFileW(path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
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
bool may_write(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) !=
          0) {
    return false;
  }
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  CloseHandle(file);
  return true;
}

// Writes the whole of `contents` over the file at `path` from its start,
// once its new size is reserved, and cuts it to that size.
bool overwrite(const std::wstring& path, std::FILE* contents) {
  const __int64 size = _filelengthi64(_fileno(contents));
  const HANDLE target =
      CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
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

// The attributes of the file to replace that belong to the file rather
// than to its contents. ReplaceFileW keeps them on Windows, but wine's does
// not, so they are set again once it is done.
DWORD kept_attributes(const destination& target) {
  constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = target.exists
                               ? GetFileAttributesW(target.path.c_str())
                               : INVALID_FILE_ATTRIBUTES;
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & KEPT;
}

// Whether another program holds the file so that it cannot be replaced
// now. Asked first, because a ReplaceFileW that fails for it can leave a
// file of its own behind (wine's does).
bool is_held(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), DELETE, SHARE_ALL, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return is_transient(GetLastError());
  }
  CloseHandle(file);
  return false;
}

// Puts the temporary in the destination's place; the error when it fails.
// ReplaceFileW is given absolute paths: wine's finds no directory in a bare
// file name.
DWORD replace(const destination& target) {
  if (target.exists && is_held(target.path)) {
    return ERROR_SHARING_VIOLATION;
  }
  const bool replaced =
      target.exists
          ? ReplaceFileW(full_path(target.path).c_str(),
                         full_path(target.temporary).c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
          : MoveFileExW(target.temporary.c_str(), target.path.c_str(),
                        MOVEFILE_REPLACE_EXISTING) != 0;
  return replaced ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

void treat_file_size_limit_as_write_error() {}

opened_destination open_destination(const char* name) {
  opened_destination opened;
  const std::wstring path = native_path(name);
  // A device is written where it stands, never replaced: one that does not
  // exist must not become a file of its name beside it.
  opened.kind = names_a_device(path) ? reached::stream : kind_of(path);
  if (opened.kind == reached::stream) {
    const HANDLE device = CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    opened.stream =
        device == INVALID_HANDLE_VALUE ? nullptr : stream_over(device, "wb");
    if (opened.stream == nullptr) {
      opened.kind = reached::refused;
    }
    return opened;
  }
  if (opened.kind == reached::file && !may_write(path)) {
    opened.kind = reached::refused;
  }
  if (opened.kind != reached::refused) {
    opened.file.reset(new destination{path, opened.kind == reached::file, {}});
  }
  return opened;
}

std::FILE* create_temporary(destination& target, temporary_outcome& outcome) {
  const std::wstring_view path = target.path;
  // Just past the last separator; npos + 1 is 0 for a bare file name.
  const std::size_t cut = path.find_last_of(L"/\\:") + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring temporary(path.substr(0, cut));
    // The longest name NTFS takes.
    temporary += temporary_name_for(path.substr(cut), 255);
    const int file =
        _wopen(temporary.c_str(),
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
  wchar_t directory[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, directory) == 0 ||
      GetTempFileNameW(directory, L"uif", 0, path) == 0) {
    return nullptr;
  }
  const HANDLE file = CreateFileW(
      path, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_ALWAYS,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileW(path);
    return nullptr;
  }
  return stream_over(file, "w+b");
}

bool commit_temporary(destination& target, std::FILE* temporary) {
  const bool written = std::fflush(temporary) == 0 &&
                       std::ferror(temporary) == 0 &&
                       std::fclose(temporary) == 0;
  const DWORD attributes = kept_attributes(target);
  // Another program may hold the destination open for a moment; keep trying
  // for about a second.
  for (int attempt = 0; written; ++attempt) {
    const DWORD error = replace(target);
    if (error == ERROR_SUCCESS) {
      clear_termination_cleanup();
      target.temporary.clear();
      if (attributes != 0) {
        SetFileAttributesW(target.path.c_str(), attributes);
      }
      return true;
    }
    if (error == ERROR_NOT_SAME_DEVICE && target.exists) {
      std::FILE* contents = _wfopen(target.temporary.c_str(), L"rb");
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
