#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "io/file_handle.h"

namespace upgrade_info {

namespace {

OVERLAPPED at_offset(std::uint64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  return where;
}

// What one ReadFile or WriteFile call takes at most.
constexpr std::size_t LARGEST_CALL = std::size_t{1} << 30;

}  // namespace

void errno_from_last_error() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_DIRECTORY:
      errno = ENOTDIR;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      errno = ENOMEM;
      break;
    default:
      errno = EIO;
  }
}

native_handle handle_of(std::FILE* stream) {
  return reinterpret_cast<native_handle>(_get_osfhandle(_fileno(stream)));
}

// By the file ID, which a handle gives whatever access it was opened with;
// other ways of asking need the right to read attributes, which a handle
// open only to write, as a redirected standard output is, lacks. Wine
// gives such a handle no volume (0): the ID alone must then tell.
bool same_file(native_handle a, native_handle b) {
  FILE_ID_INFO one{};
  FILE_ID_INFO other{};
  return GetFileInformationByHandleEx(a, FileIdInfo, &one, sizeof one) != 0 &&
         GetFileInformationByHandleEx(b, FileIdInfo, &other, sizeof other) !=
             0 &&
         (one.VolumeSerialNumber == other.VolumeSerialNumber ||
          one.VolumeSerialNumber == 0 || other.VolumeSerialNumber == 0) &&
         std::equal(std::begin(one.FileId.Identifier),
                    std::end(one.FileId.Identifier),
                    std::begin(other.FileId.Identifier));
}

bool file_handle::close() {
  const HANDLE handle = std::exchange(handle_, invalid());
  return handle == invalid() || CloseHandle(handle) != 0;
}

// Windows reports write failures at the write.
bool file_handle::close_duplicate() const { return true; }

std::optional<std::uint64_t> file_handle::size() const {
  LARGE_INTEGER size{};
  if (GetFileSizeEx(handle_, &size) == 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> file_handle::read_at(void* bytes, std::size_t size,
                                                std::uint64_t at) const {
  OVERLAPPED where = at_offset(at);
  DWORD got = 0;
  if (ReadFile(handle_, bytes, static_cast<DWORD>(std::min(size, LARGEST_CALL)),
               &got, &where) == 0) {
    if (GetLastError() == ERROR_HANDLE_EOF) {
      return 0;
    }
    errno_from_last_error();
    return std::nullopt;
  }
  return got;
}

bool file_handle::write_at(const void* bytes, std::size_t size,
                           std::uint64_t at) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    OVERLAPPED where = at_offset(at);
    DWORD written = 0;
    if (WriteFile(handle_, next,
                  static_cast<DWORD>(std::min(size, LARGEST_CALL)), &written,
                  &where) == 0 ||
        written == 0) {
      errno_from_last_error();
      return false;
    }
    next += written;
    size -= written;
    at += written;
  }
  return true;
}

bool file_handle::resize(std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end,
                                 sizeof end) == 0) {
    errno_from_last_error();
    return false;
  }
  return true;
}

bool file_handle::lock() {
  OVERLAPPED whole{};
  if (LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD,
                 &whole) == 0) {
    errno_from_last_error();
    return false;
  }
  return true;
}

}  // namespace upgrade_info
