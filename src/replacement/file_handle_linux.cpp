#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "replacement/file_handle.h"

namespace upgrade_info {

native_handle handle_of(std::FILE* stream) { return fileno(stream); }

bool same_file(native_handle a, native_handle b) {
  struct stat one {};
  struct stat other {};
  return fstat(a, &one) == 0 && fstat(b, &other) == 0 &&
         one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool file_handle::close() {
  const int handle = std::exchange(handle_, invalid());
  return handle < 0 || ::close(handle) == 0;
}

bool file_handle::close_duplicate() const {
  const int duplicate = fcntl(handle_, F_DUPFD_CLOEXEC, 0);
  return duplicate >= 0 && ::close(duplicate) == 0;
}

std::optional<std::uint64_t> file_handle::size() const {
  struct stat status {};
  if (fstat(handle_, &status) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(status.st_size);
}

std::optional<std::size_t> file_handle::read_at(void* bytes, std::size_t size,
                                                std::uint64_t at) const {
  const ssize_t got = pread(handle_, bytes, size, static_cast<off_t>(at));
  if (got < 0) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(got);
}

bool file_handle::write_at(const void* bytes, std::size_t size,
                           std::uint64_t at) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    const ssize_t written = pwrite(handle_, next, size, static_cast<off_t>(at));
    if (written <= 0) {
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
    at += static_cast<std::uint64_t>(written);
  }
  return true;
}

bool file_handle::resize(std::uint64_t size) {
  return ftruncate(handle_, static_cast<off_t>(size)) == 0;
}

void file_handle::commit_to_disk() { syncfs(handle_); }

bool file_handle::reserve(std::uint64_t size) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    return false;
  }
  return size == 0 ||
         fallocate(handle_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) ==
             0 ||
         (errno != ENOSPC && errno != EDQUOT && errno != EFBIG);
}

}  // namespace upgrade_info
