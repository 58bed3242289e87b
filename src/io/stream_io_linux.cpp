#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "io/standard_streams.h"
#include "io/stream_io.h"

namespace upgrade_info {

std::FILE* open_to_read(const char* path, bool) {
  std::FILE* stream = std::fopen(path, "r");
  if (stream != nullptr && is_held_standard_stream(fileno(stream))) {
    std::fclose(stream);
    errno = EBADF;
    return nullptr;
  }
  return stream;
}

void set_binary(std::FILE*) {}

std::int64_t stream_tell(std::FILE* stream) { return ftello(stream); }

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool is_kernel_file(int descriptor) {
  struct statfs file_system {};
  if (fstatfs(descriptor, &file_system) != 0) {
    return false;
  }
  switch (file_system.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BINFMTFS_MAGIC:
      return true;
    default:
      return false;
  }
}

std::int64_t stream_remaining(std::FILE* stream) {
  struct stat status {};
  const std::int64_t at = stream_tell(stream);
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode) ||
      at < 0 || is_kernel_file(fileno(stream))) {
    return -1;
  }
  return status.st_size > at ? status.st_size - at : 0;
}

void enlarge_pipe(std::FILE* stream, int size) {
  struct stat status {};
  if (fstat(fileno(stream), &status) == 0 && S_ISFIFO(status.st_mode)) {
    fcntl(fileno(stream), F_SETPIPE_SZ, size);
  }
}

}  // namespace upgrade_info
