#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "io/path_walk.h"
#include "io/stream_io.h"

namespace upgrade_info {

// A name that spells a descriptor (/dev/fd/4) reaches the caller's or
// nothing: not one the program opened itself meanwhile, nor a standard
// stream closed at start.
std::FILE* open_to_read(const char* path, bool) {
  const std::optional<walked_path> walked = walk_path(path);
  if (walked && walked->descriptor >= 0 &&
      !callers_descriptor(walked->descriptor)) {
    errno = EBADF;
    return nullptr;
  }
  return std::fopen(path, "re");
}

void set_binary(std::FILE*) {}

std::int64_t stream_tell(std::FILE* stream) { return ftello(stream); }

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool is_kernel_file(int descriptor) {
  // The kernel's own file systems whose numbers <linux/magic.h> lacks.
  constexpr unsigned long CONFIGFS = 0x62656570;
  constexpr unsigned long NFSD = 0x6e667364;
  constexpr unsigned long FUSECTL = 0x65735543;
  constexpr unsigned long KERNEL_FILE_SYSTEMS[] = {PROC_SUPER_MAGIC,
                                                   SYSFS_MAGIC,
                                                   CGROUP_SUPER_MAGIC,
                                                   CGROUP2_SUPER_MAGIC,
                                                   DEBUGFS_MAGIC,
                                                   TRACEFS_MAGIC,
                                                   SECURITYFS_MAGIC,
                                                   SELINUX_MAGIC,
                                                   SMACK_MAGIC,
                                                   BPF_FS_MAGIC,
                                                   PSTOREFS_MAGIC,
                                                   EFIVARFS_MAGIC,
                                                   BINFMTFS_MAGIC,
                                                   CONFIGFS,
                                                   NFSD,
                                                   FUSECTL};
  struct statfs file_system {};
  return fstatfs(descriptor, &file_system) == 0 &&
         std::find(std::begin(KERNEL_FILE_SYSTEMS),
                   std::end(KERNEL_FILE_SYSTEMS),
                   static_cast<unsigned long>(file_system.f_type)) !=
             std::end(KERNEL_FILE_SYSTEMS);
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
