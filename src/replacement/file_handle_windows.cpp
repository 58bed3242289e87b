#include <windows.h>

#include <algorithm>

#include "replacement/file_handle.h"

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
    return GetLastError() == ERROR_HANDLE_EOF ? std::optional<std::size_t>(0)
                                              : std::nullopt;
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
  return SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end,
                                    sizeof end) != 0;
}

void file_handle::commit_to_disk() { FlushFileBuffers(handle_); }

// Windows allocates as it writes.
bool file_handle::reserve(std::uint64_t) { return true; }

}  // namespace upgrade_info
