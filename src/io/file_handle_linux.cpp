#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "io/file_handle.h"

namespace upgrade_info {

native_handle handle_of(std::FILE* stream) { return fileno(stream); }

bool same_file(native_handle a, native_handle b) {
  struct stat one {};
  struct stat other {};
  return fstat(a, &one) == 0 && fstat(b, &other) == 0 &&
         one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool take_run_lock(int file, short type, bool waiting) {
  for (useconds_t pause = 100;;
       pause = std::min<useconds_t>(pause * 2, 10000)) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    if (fcntl(file, F_OFD_SETLK, &whole) == 0) {
      return true;
    }
    if ((errno != EAGAIN && errno != EACCES) ||
        fcntl(file, F_OFD_GETLK, &whole) != 0) {
      return false;
    }
    // The one in the way is the kind only record locks have: a process's.
    if (whole.l_type != F_UNLCK && whole.l_pid != -1) {
      return true;
    }
    if (!waiting) {
      errno = EAGAIN;
      return false;
    }
    usleep(pause);
  }
}

void hold_for_reading(native_handle file) {
  struct stat status {};
  if (fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
    take_run_lock(file, F_RDLCK, true);
  }
}

void let_go_after_reading(native_handle file) {
  take_run_lock(file, F_UNLCK, false);
}

bool unnamed_files_can_be_named() {
  return access("/proc/self/fd", X_OK) == 0 || geteuid() == 0;
}

bool link_unnamed(const file_handle& file, int directory, const char* name) {
  const std::string path = "/proc/self/fd/" + std::to_string(file.get());
  return linkat(AT_FDCWD, path.c_str(), directory, name, AT_SYMLINK_FOLLOW) ==
             0 ||
         (errno == ENOENT &&
          linkat(file.get(), "", directory, name, AT_EMPTY_PATH) == 0);
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

bool file_handle::lock() { return take_run_lock(handle_, F_WRLCK, true); }

}  // namespace upgrade_info
