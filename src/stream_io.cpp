#include "stream_io.h"

#include <sys/stat.h>

#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace upgrade_info {

void page_deleter::operator()(unsigned char* memory) const {
  ::operator delete[](memory, std::align_val_t{PAGE});
}

page_memory allocate_pages(std::size_t size) {
  return page_memory(static_cast<unsigned char*>(
      ::operator new[](size, std::align_val_t{PAGE}, std::nothrow)));
}

bool write_all(std::FILE* stream, const void* bytes, std::size_t size) {
  return size == 0 || std::fwrite(bytes, 1, size, stream) == size;
}

std::FILE* unbuffered(std::FILE* stream) {
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

#ifdef _WIN32

void set_binary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool is_kernel_file(int) { return false; }

std::int64_t stream_tell(std::FILE* stream) { return _ftelli64(stream); }

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t stream_remaining(std::FILE* stream) {
  struct _stati64 status {};
  const std::int64_t at = stream_tell(stream);
  if (_fstati64(_fileno(stream), &status) != 0 ||
      (status.st_mode & _S_IFMT) != _S_IFREG || at < 0) {
    return -1;
  }
  return status.st_size > at ? status.st_size - at : 0;
}

bool stream_resize(std::FILE* stream, std::uint64_t size) {
  return std::fflush(stream) == 0 &&
         _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0;
}

void enlarge_pipe(std::FILE*, int) {}

#else

void set_binary(std::FILE*) {}

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

std::int64_t stream_tell(std::FILE* stream) { return ftello(stream); }

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
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

bool stream_resize(std::FILE* stream, std::uint64_t size) {
  return std::fflush(stream) == 0 &&
         ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

void enlarge_pipe(std::FILE* stream, int size) {
  struct stat status {};
  if (fstat(fileno(stream), &status) == 0 && S_ISFIFO(status.st_mode)) {
    fcntl(fileno(stream), F_SETPIPE_SZ, size);
  }
}

#endif

}  // namespace upgrade_info
