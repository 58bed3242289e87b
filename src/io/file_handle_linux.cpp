#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

void hold_for_reading(native_handle file) {
  struct stat status {};
  struct flock whole {};
  whole.l_type = F_RDLCK;
  whole.l_whence = SEEK_SET;
  if (fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
    fcntl(file, F_OFD_SETLKW, &whole);
  }
}

void let_go_after_reading(native_handle file) {
  struct flock whole {};
  whole.l_type = F_UNLCK;
  whole.l_whence = SEEK_SET;
  fcntl(file, F_OFD_SETLK, &whole);
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

bool file_handle::lock() {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  return fcntl(handle_, F_OFD_SETLKW, &whole) == 0;
}

}  // namespace upgrade_info
