#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "file_replacement.h"

namespace upgrade_info::file_replacement {

namespace {

// The one temporary file that exists, for the signal handler to remove.
std::string temporary_path;
std::atomic<const char*> pending_temporary{nullptr};

extern "C" void remove_temporary_then_end(int signal) {
  if (const char* path = pending_temporary.exchange(nullptr)) {
    DeleteFileA(path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void install_termination_handlers() {
  static const bool installed = [] {
    for (int signal : {SIGINT, SIGTERM}) {
      if (std::signal(signal, remove_temporary_then_end) == SIG_IGN) {
        std::signal(signal, SIG_IGN);
      }
    }
    return true;
  }();
  (void)installed;
}

bool is_transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

}  // namespace

void treat_file_size_limit_as_write_error() {}

std::string final_target(const std::string& path) { return path; }

destination inspect(const std::string& path) {
  // Opening for no access at all tells a disk file from a device such as
  // NUL or CON, a pipe, or a directory (which fails to open this way).
  const HANDLE file = CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? destination::missing
                                                  : destination::other;
  }
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool writable =
      attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  return type == FILE_TYPE_DISK && writable ? destination::writable_file
                                            : destination::other;
}

std::FILE* create_temporary(const std::string& path, const std::string&) {
  install_termination_handlers();
  const int fd = _open(
      path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
      _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    return nullptr;
  }
  temporary_path = path;
  pending_temporary = temporary_path.c_str();
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    _close(fd);
    remove_temporary(path);
    errno = error;
  }
  return stream;
}

replacement replace_with_temporary(const std::string& temporary,
                                   const std::string& destination) {
  // Another program (a virus scanner, an indexer, an editor) may hold the
  // destination open for a moment; keep trying for about a second.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(temporary.c_str(), destination.c_str(),
                    MOVEFILE_REPLACE_EXISTING)) {
      pending_temporary = nullptr;
      return replacement::done;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_NOT_SAME_DEVICE) {
      return replacement::cannot_rename;
    }
    if (!is_transient(error) || attempt == 20) {
      return replacement::failed;
    }
    Sleep(50);
  }
}

void remove_temporary(const std::string& temporary) {
  pending_temporary = nullptr;
  DeleteFileA(temporary.c_str());
}

}  // namespace upgrade_info::file_replacement
