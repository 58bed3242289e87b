// Opening a named output on Linux. Its links are followed here, a link at
// a time from the directory that holds each, so that what the name reaches
// is known without opening anything that could wait or be made; the file
// itself is then opened by the system, which applies its rules on who may
// write what: permissions, immutable and append-only files, read-only
// mounts. What it opened decides how it is written, never the spelling of
// the name.

#include "replacement/destination_linux.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <string>

#include "io/standard_streams.h"
#include "io/stream_io.h"

namespace upgrade_info {

namespace {

// A link, file or FIFO in a sticky directory that everyone may write,
// owned neither by this user nor by the directory's owner, was put there
// by someone else for this user to follow or write into. Refused as the
// kernel's fs.protected_symlinks and fs.protected_regular refuse it,
// whatever they are set to.
bool planted(const struct stat& directory, const struct stat& entry) {
  return (directory.st_mode & S_ISVTX) != 0 &&
         (directory.st_mode & S_IWOTH) != 0 && entry.st_uid != geteuid() &&
         entry.st_uid != directory.st_uid;
}

// Moves the destination to `path`, taken from the directory `base`: opens
// the directory that holds it and notes its name there. False where no
// file could be there (a path that ends in a directory).
bool go_to(destination& target, int base, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                             : path.substr(0, slash);
  target.name = slash == std::string::npos ? path : path.substr(slash + 1);
  target.directory = file_handle(
      openat(base, directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return target.directory && !target.name.empty() && target.name != "." &&
         target.name != "..";
}

std::string link_target(const destination& target) {
  char path[PATH_MAX];
  const ssize_t length = readlinkat(target.directory.get(), target.name.c_str(),
                                    path, sizeof path);
  return length > 0 && static_cast<std::size_t>(length) < sizeof path
             ? std::string(path, static_cast<std::size_t>(length))
             : std::string();
}

bool on_proc(int descriptor) {
  struct statfs file_system {};
  return fstatfs(descriptor, &file_system) == 0 &&
         file_system.f_type == PROC_SUPER_MAGIC;
}

// The caller's descriptor that a link of the kernel's names, as
// /proc/self/fd/1 does, reached by /dev/stdout or /dev/fd/1: written
// through where it stands, at its offset, as after "exec >log". Nothing
// for a descriptor the caller has not open to write, or one closed at
// start, which names no file, as for a redirect.
std::FILE* stream_through_descriptor(const destination& target) {
  int descriptor = -1;
  const char* end = target.name.data() + target.name.size();
  struct stat named {};
  struct stat open_one {};
  if (std::from_chars(target.name.data(), end, descriptor).ptr != end ||
      fstatat(target.directory.get(), target.name.c_str(), &named, 0) != 0 ||
      fstat(descriptor, &open_one) != 0 || !same_inode(named, open_one) ||
      (fcntl(descriptor, F_GETFL) & O_ACCMODE) == O_RDONLY ||
      is_held_standard_stream(descriptor)) {
    return nullptr;
  }
  const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  std::FILE* stream = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (stream == nullptr && copy >= 0) {
    close(copy);
  }
  return stream;
}

// A stream over what was opened, which is written where it stands, and
// may wait for its reader now.
std::FILE* stream_over(file_handle file) {
  const int flags = fcntl(file.get(), F_GETFL);
  const bool kernel_file = is_kernel_file(file.get());
  std::FILE* stream =
      flags < 0 || fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0
          ? nullptr
          : fdopen(file.get(), "wb");
  if (stream == nullptr) {
    return nullptr;
  }
  file.release();  // the stream closes it
  // Each write to a file of the kernel's is an action of its own, so the
  // whole output goes in one where it fits.
  if (kernel_file) {
    std::setvbuf(stream, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  return stream;
}

// Notes whether the destination's directory keeps every name it is given
// (chattr +a); false when that cannot be told.
bool note_append_only(destination& target) {
  struct statx attributes {};
  if (statx(target.directory.get(), "", AT_EMPTY_PATH, 0, &attributes) != 0) {
    return false;
  }
  target.append_only = (attributes.stx_attributes & STATX_ATTR_APPEND) != 0;
  return true;
}

enum class attempt { done, raced };

// One look at what `name` reaches: raced when it changed while looked at,
// as when another run replaced it.
attempt open_once(const char* name, bool when_waiting_is_fine,
                  opened_destination& opened) {
  constexpr int MOST_LINKS = 40;  // as the kernel follows at most
  destination_ptr target(new destination);
  struct stat directory {};
  struct stat entry {};
  if (!go_to(*target, AT_FDCWD, name)) {
    return attempt::done;
  }
  for (int links = 0;; ++links) {
    const int at = target->directory.get();
    if (fstat(at, &directory) != 0) {
      return attempt::done;
    }
    if (fstatat(at, target->name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        return attempt::done;
      }
      if (note_append_only(*target)) {
        opened.kind = reached::missing;
        opened.target = std::move(target);
      }
      return attempt::done;
    }
    if (!S_ISLNK(entry.st_mode)) {
      break;
    }
    if (on_proc(at)) {
      opened.stream = stream_through_descriptor(*target);
      opened.kind = opened.stream ? reached::stream : reached::refused;
      return attempt::done;
    }
    const std::string next = link_target(*target);
    if (links == MOST_LINKS || planted(directory, entry) || next.empty() ||
        !go_to(*target, at, next)) {
      return attempt::done;
    }
  }
  if (S_ISFIFO(entry.st_mode) && planted(directory, entry)) {
    return attempt::done;
  }
  if (S_ISREG(entry.st_mode)) {
    target->file = open_regular(*target, entry);
    if (!target->file) {
      return errno == ESTALE ? attempt::raced : attempt::done;
    }
    if (!is_kernel_file(target->file.get())) {
      if (note_append_only(*target)) {
        opened.kind = reached::file;
        opened.target = std::move(target);
      }
      return attempt::done;
    }
    opened.stream = stream_over(std::move(target->file));
  } else if (S_ISFIFO(entry.st_mode) && !when_waiting_is_fine) {
    opened.kind = reached::fifo;
    return attempt::done;
  } else {
    // A device, a FIFO, a socket: opened only to write, and for a FIFO
    // waiting for its reader.
    const int waits = S_ISFIFO(entry.st_mode) ? 0 : O_NONBLOCK;
    file_handle file(
        openat(target->directory.get(), target->name.c_str(),
               O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | waits));
    struct stat status {};
    if (!file || fstat(file.get(), &status) != 0) {
      return errno == ELOOP || errno == ENOENT ? attempt::raced : attempt::done;
    }
    if (!same_inode(status, entry)) {
      return attempt::raced;
    }
    opened.stream = stream_over(std::move(file));
  }
  opened.kind = opened.stream ? reached::stream : reached::refused;
  return attempt::done;
}

}  // namespace

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void destination_deleter::operator()(destination* target) const {
  delete target;
}

file_handle open_regular(const destination& target, const struct stat& status) {
  constexpr int FLAGS = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int at = target.directory.get();
  const char* name = target.name.c_str();
  struct stat directory {};
  if (fstat(at, &directory) != 0 || planted(directory, status)) {
    errno = EACCES;
    return {};
  }
  file_handle file(openat(at, name, O_RDWR | FLAGS));
  if (!file && errno == EACCES) {
    file = file_handle(openat(at, name, O_WRONLY | FLAGS));
  }
  struct stat opened {};
  if (file &&
      (fstat(file.get(), &opened) != 0 || !same_inode(opened, status))) {
    errno = ESTALE;
    return {};
  }
  if (!file && (errno == ELOOP || errno == ENOENT)) {
    errno = ESTALE;
  }
  return file;
}

opened_destination open_destination(const char* name,
                                    bool when_waiting_is_fine) {
  for (int tries = 0; tries < 100; ++tries) {
    opened_destination opened;
    if (open_once(name, when_waiting_is_fine, opened) == attempt::done) {
      return opened;
    }
  }
  return {};
}

file_handle& destination_file(destination& target) { return target.file; }

// Asked of the descriptor, which open_regular opened to read as well where
// the user may.
bool destination_readable(const destination& target) {
  return (fcntl(target.file.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
}

bool still_reached(const destination& target) {
  struct stat named {};
  struct stat opened {};
  return fstatat(target.directory.get(), target.name.c_str(), &named,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(target.file.get(), &opened) == 0 && same_inode(named, opened);
}

}  // namespace upgrade_info
