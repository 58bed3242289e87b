// Opening a named output on Linux. The system opens it as it opens a file
// to write it, following its links and applying its rules on who may
// write what: permissions, fs.protected_symlinks and fs.protected_regular,
// immutable and append-only files, read-only mounts. Then what it opened
// decides how it is written, never the spelling of the name.

#include "replacement/destination_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/standard_streams.h"
#include "io/stream_io.h"

namespace upgrade_info {

namespace {

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool is_link(const char* path) {
  struct stat status {};
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

std::string proc_path(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// A descriptor that the process was started with, or holds, open to write
// the file `status` describes, other than `own`; -1 when there is none.
int descriptor_on(const struct stat& status, int own) {
  std::vector<int> candidates;
  if (DIR* listing = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(listing)) {
      const int descriptor = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && descriptor != dirfd(listing)) {
        candidates.push_back(descriptor);
      }
    }
    closedir(listing);
  } else {
    candidates = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  }
  for (const int descriptor : candidates) {
    struct stat open_one {};
    const int flags = fcntl(descriptor, F_GETFL);
    if (descriptor != own && flags >= 0 && (flags & O_ACCMODE) != O_RDONLY &&
        fstat(descriptor, &open_one) == 0 && same_inode(open_one, status)) {
      return descriptor;
    }
  }
  return -1;
}

// A stream that writes through the caller's descriptor, at its offset, as
// its other writers do; nullptr when there is none.
std::FILE* stream_through(int described) {
  const int copy =
      described < 0 ? -1 : fcntl(described, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  std::FILE* stream = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (stream == nullptr && copy >= 0) {
    close(copy);
  }
  return stream;
}

// The path by which the system reached the file open as `descriptor`.
std::string path_of(int descriptor) {
  std::vector<char> path(PATH_MAX);
  const ssize_t length =
      readlink(proc_path(descriptor).c_str(), path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) == path.size()) {
    return {};
  }
  return {path.data(), static_cast<std::size_t>(length)};
}

// Opens the directory of the file at `path`, taken from the directory
// `base`, and notes the file's name in it.
void locate(destination& target, int base, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  target.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int previous = target.directory;
  target.directory = -1;
  if (!target.name.empty() && target.name != "." && target.name != "..") {
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                               : path.substr(0, slash);
    target.directory =
        openat(base, directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (previous >= 0) {
    close(previous);
  }
  struct statx attributes {};
  target.append_only =
      target.directory >= 0 &&
      statx(target.directory, "", AT_EMPTY_PATH, 0, &attributes) == 0 &&
      (attributes.stx_attributes & STATX_ATTR_APPEND) != 0;
}

// Follows the links from the name given as opening it would, but without
// making the file at their end: finds the directory that would hold it and
// its name there. False when they end nowhere a file could be made.
bool locate_link_end(destination& target) {
  constexpr int MOST_LINKS = 40;  // as the kernel follows at most
  locate(target, AT_FDCWD, target.given);
  for (int link = 0; link < MOST_LINKS && target.directory >= 0; ++link) {
    std::vector<char> next(PATH_MAX);
    const ssize_t length = readlinkat(target.directory, target.name.c_str(),
                                      next.data(), next.size());
    if (length < 0) {
      return errno == ENOENT || errno == EINVAL;
    }
    if (static_cast<std::size_t>(length) == next.size()) {
      return false;
    }
    locate(target, target.directory,
           std::string(next.data(), static_cast<std::size_t>(length)));
  }
  return false;
}

std::FILE* stream_over(file_handle file) {
  std::FILE* stream = fdopen(file.get(), "wb");
  if (stream == nullptr) {
    return nullptr;
  }
  // Each write to a file of the kernel's is an action of its own, so the
  // whole output goes in one where it fits.
  if (is_kernel_file(file.release())) {
    std::setvbuf(stream, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  return stream;
}

}  // namespace

void destination_deleter::operator()(destination* target) const {
  delete target;
}

file_handle open_to_write(const std::string& given) {
  file_handle file(
      open(given.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666));
  struct stat status {};
  if (!file || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return file;
  }
  // The same file, reopened to read as well where the user may.
  file_handle both(open(proc_path(file.get()).c_str(), O_RDWR | O_CLOEXEC));
  return both ? std::move(both) : std::move(file);
}

bool names_file(const destination& target, const file_handle& file) {
  struct stat named {};
  struct stat opened {};
  return target.directory >= 0 &&
         fstatat(target.directory, target.name.c_str(), &named,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(file.get(), &opened) == 0 && same_inode(named, opened);
}

namespace {

// The file the open made where the one it probed was removed meanwhile is
// the run's own, and empty: it is taken back.
void take_back_if_made(const file_handle& file, const file_handle& probed) {
  struct stat made {};
  struct stat was {};
  struct stat named {};
  const std::string path = path_of(file.get());
  if (fstat(file.get(), &made) == 0 && fstat(probed.get(), &was) == 0 &&
      was.st_nlink == 0 && made.st_size == 0 && made.st_nlink == 1 &&
      made.st_uid == geteuid() && !path.empty() &&
      lstat(path.c_str(), &named) == 0 && same_inode(named, made)) {
    unlink(path.c_str());
  }
}

enum class attempt { done, raced };

// One look at what `name` reaches: raced when it changed while looked at,
// as when another run replaced it.
attempt open_once(const char* name, bool when_waiting_is_fine,
                  opened_destination& opened) {
  // A socket cannot be opened by name; one of the caller's is written
  // through its descriptor.
  struct stat status {};
  if (stat(name, &status) == 0 && S_ISSOCK(status.st_mode)) {
    opened.stream = stream_through(descriptor_on(status, -1));
    opened.kind = opened.stream != nullptr ? reached::stream : reached::refused;
    return attempt::done;
  }
  destination_ptr target(new destination);
  target->given = name;
  // What is there, asked without opening it to write, so that nothing is
  // made where nothing is, and nothing waits.
  const file_handle there(open(name, O_PATH | O_CLOEXEC));
  struct stat probed {};
  if (!there) {
    if (errno != ENOENT) {
      return attempt::done;
    }
    target->made_on_commit = is_link(name);
    if (target->made_on_commit) {
      if (!locate_link_end(*target)) {
        return attempt::done;
      }
    } else {
      locate(*target, AT_FDCWD, name);
    }
    if (target->directory >= 0) {
      opened.kind = reached::missing;
      opened.target = std::move(target);
    }
    return attempt::done;
  }
  if (fstat(there.get(), &probed) != 0 ||
      is_held_standard_stream(there.get())) {
    return attempt::done;
  }
  if (S_ISFIFO(probed.st_mode) && !when_waiting_is_fine) {
    opened.kind = reached::fifo;
    return attempt::done;
  }
  target->file = open_to_write(name);
  if (!target->file) {
    return errno == ENOENT ? attempt::raced : attempt::done;
  }
  const int file = target->file.get();
  if (fstat(file, &status) != 0) {
    return attempt::done;
  }
  if (!same_inode(status, probed)) {
    take_back_if_made(target->file, there);
    return attempt::raced;
  }
  const int callers = descriptor_on(status, file);
  if (!S_ISREG(status.st_mode) || is_kernel_file(file) || callers >= 0) {
    opened.stream = callers >= 0 ? stream_through(callers)
                                 : stream_over(std::move(target->file));
    opened.kind = opened.stream != nullptr ? reached::stream : reached::refused;
    return attempt::done;
  }
  locate(*target, AT_FDCWD, is_link(name) ? path_of(file) : std::string(name));
  if (target->directory >= 0 && !names_file(*target, target->file)) {
    return attempt::raced;
  }
  opened.kind = reached::file;
  opened.target = std::move(target);
  return attempt::done;
}

}  // namespace

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

// Asked of the descriptor, which open_to_write opened to read as well
// where the user may.
bool destination_readable(const destination& target) {
  return (fcntl(target.file.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
}

bool still_reached(const destination& target) {
  return target.directory < 0 || names_file(target, target.file);
}

}  // namespace upgrade_info
