// Opening a named output on Linux. Its name is walked by hand (path_walk.h),
// so that what it reaches is known without opening anything that could
// wait or be made; the file itself is then opened by the system, which
// applies its rules on who may write what: permissions, immutable and
// append-only files, read-only mounts. What it opened decides how it is
// written, never the spelling of the name.

#include "replacement/destination_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "io/path_walk.h"
#include "io/stream_io.h"

namespace upgrade_info {

namespace {

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

// The caller's descriptor that the name spells, written through where it
// stands, at its offset, as after "exec >log"; nothing for one the caller
// has not open to write.
std::FILE* stream_through(const walked_path& walked) {
  struct stat named {};
  struct stat open_one {};
  if (!callers_descriptor(walked.descriptor) ||
      (fcntl(walked.descriptor, F_GETFL) & O_ACCMODE) == O_RDONLY ||
      fstatat(walked.directory.get(), walked.name.c_str(), &named, 0) != 0 ||
      fstat(walked.descriptor, &open_one) != 0 ||
      !same_inode(named, open_one)) {
    return nullptr;
  }
  return stream_over(file_handle(
      fcntl(walked.descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1)));
}

// Notes whether the destination's directory keeps every name it is given
// (chattr +a), and whether the file is a mount of its own; false when that
// cannot be told.
bool note_renames(destination& target) {
  struct statx directory {};
  struct statx file {};
  if (statx(target.directory.get(), "", AT_EMPTY_PATH, 0, &directory) != 0 ||
      (target.file &&
       statx(target.file.get(), "", AT_EMPTY_PATH, 0, &file) != 0)) {
    return false;
  }
  target.append_only = (directory.stx_attributes & STATX_ATTR_APPEND) != 0;
  target.own_mount =
      target.file && ((file.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0 ||
                      file.stx_dev_major != directory.stx_dev_major ||
                      file.stx_dev_minor != directory.stx_dev_minor);
  return true;
}

enum class attempt { done, raced };

// One look at what `name` reaches: raced when it changed while looked at,
// as when another run replaced it.
attempt open_once(const char* name, bool when_waiting_is_fine,
                  opened_destination& opened) {
  std::optional<walked_path> walked = walk_path(name);
  if (!walked) {
    return attempt::done;
  }
  if (walked->descriptor >= 0) {
    opened.stream = stream_through(*walked);
    opened.kind = opened.stream ? reached::stream : reached::refused;
    return attempt::done;
  }
  destination_ptr target(new destination);
  target->directory = std::move(walked->directory);
  target->name = std::move(walked->name);
  const std::optional<struct stat>& entry = walked->entry;
  struct stat holder {};
  if (!entry || S_ISREG(entry->st_mode)) {
    if (entry) {
      target->file = open_regular(*target, *entry);
      if (!target->file) {
        return errno == ESTALE ? attempt::raced : attempt::done;
      }
      if (is_kernel_file(target->file.get())) {
        opened.stream = stream_over(std::move(target->file));
        opened.kind = opened.stream ? reached::stream : reached::refused;
        return attempt::done;
      }
    }
    if (note_renames(*target)) {
      opened.kind = entry ? reached::file : reached::missing;
      opened.target = std::move(target);
    }
    return attempt::done;
  }
  if (S_ISFIFO(entry->st_mode) &&
      (fstat(target->directory.get(), &holder) != 0 ||
       planted(holder, *entry))) {
    return attempt::done;
  }
  if (S_ISFIFO(entry->st_mode) && !when_waiting_is_fine) {
    opened.kind = reached::fifo;
    return attempt::done;
  }
  // A device, a FIFO, a socket: opened only to write, and for a FIFO
  // waiting for its reader.
  const int waits = S_ISFIFO(entry->st_mode) ? 0 : O_NONBLOCK;
  file_handle file(
      openat(target->directory.get(), target->name.c_str(),
             O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | waits));
  struct stat status {};
  if (!file || fstat(file.get(), &status) != 0) {
    return errno == ELOOP || errno == ENOENT ? attempt::raced : attempt::done;
  }
  if (!same_inode(status, *entry)) {
    return attempt::raced;
  }
  opened.stream = stream_over(std::move(file));
  opened.kind = opened.stream ? reached::stream : reached::refused;
  return attempt::done;
}

}  // namespace

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool refuses_replacement(int error) {
  return error == EACCES || error == EPERM || error == EROFS ||
         error == EXDEV || error == EBUSY;
}

void destination_deleter::operator()(destination* target) const {
  delete target;
}

file_handle open_regular(const destination& target, const struct stat& status) {
  constexpr int FLAGS = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int at = target.directory.get();
  const char* name = target.name.c_str();
  struct stat holder {};
  if (fstat(at, &holder) != 0 || planted(holder, status)) {
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
