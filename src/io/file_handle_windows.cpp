#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>

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

// By the 128-bit file ID, which a handle gives whatever access it was
// opened with; where a file system has none (FAT, exFAT), by the 64-bit
// index that every one has, which needs the right to read attributes.
std::optional<file_identity> identity_of(native_handle file) {
  file_identity identity;
  FILE_ID_INFO full{};
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileInformationByHandleEx(file, FileIdInfo, &full, sizeof full) != 0) {
    identity.volume = full.VolumeSerialNumber;
    std::copy(std::begin(full.FileId.Identifier),
              std::end(full.FileId.Identifier), identity.id);
  } else if (GetFileInformationByHandle(file, &information) != 0) {
    identity.volume = information.dwVolumeSerialNumber;
    const std::uint64_t index = std::uint64_t{information.nFileIndexHigh}
                                    << 32 |
                                information.nFileIndexLow;
    for (std::size_t byte = 0; byte < sizeof index; ++byte) {
      identity.id[byte] = static_cast<unsigned char>(index >> (8 * byte));
    }
  } else {
    return std::nullopt;
  }
  return identity;
}

bool same_identity(const file_identity& a, const file_identity& b) {
  return (a.volume == b.volume || a.volume == 0 || b.volume == 0) &&
         std::equal(std::begin(a.id), std::end(a.id), std::begin(b.id));
}

bool same_file(native_handle a, native_handle b) {
  const std::optional<file_identity> one = identity_of(a);
  const std::optional<file_identity> other = identity_of(b);
  return one && other && same_identity(*one, *other);
}

bool mark_to_go(const file_handle& file, bool go) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = go;
  return SetFileInformationByHandle(file.get(), FileDispositionInfo,
                                    &disposition, sizeof disposition) != 0;
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

void hold_for_reading(native_handle file) {
  OVERLAPPED whole{};
  if (GetFileType(file) == FILE_TYPE_DISK) {
    LockFileEx(file, 0, 0, MAXDWORD, MAXDWORD, &whole);
  }
}

void let_go_after_reading(native_handle file) {
  OVERLAPPED whole{};
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
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
