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

#include "stream_io.h"

namespace upgrade_info {

namespace {

bool same_file(const struct stat& a, const struct stat& b) {
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
        fstat(descriptor, &open_one) == 0 && same_file(open_one, status)) {
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
         fstat(file.get(), &opened) == 0 && same_file(named, opened);
}

opened_destination open_destination(const char* name) {
  opened_destination opened;
  // A socket cannot be opened by name; one of the caller's is written
  // through its descriptor.
  struct stat status {};
  if (stat(name, &status) == 0 && S_ISSOCK(status.st_mode)) {
    opened.stream = stream_through(descriptor_on(status, -1));
    opened.kind = opened.stream != nullptr ? reached::stream : reached::refused;
    return opened;
  }
  destination_ptr target(new destination);
  target->given = name;
  // Whether something is there, asked without opening it, so that nothing
  // is made when nothing is.
  if (file_handle there(open(name, O_PATH | O_CLOEXEC)); there) {
    target->file = open_to_write(name);
    if (!target->file) {
      return opened;
    }
  } else if (errno != ENOENT) {
    return opened;
  } else {
    target->made_on_commit = is_link(name);
    if (target->made_on_commit) {
      if (!locate_link_end(*target)) {
        return opened;
      }
    } else {
      locate(*target, AT_FDCWD, name);
    }
    if (target->directory >= 0) {
      opened.kind = reached::missing;
      opened.target = std::move(target);
    }
    return opened;
  }
  const int file = target->file.get();
  if (fstat(file, &status) != 0) {
    return opened;
  }
  const int callers = descriptor_on(status, file);
  if (!S_ISREG(status.st_mode) || is_kernel_file(file) || callers >= 0) {
    opened.stream = callers >= 0 ? stream_through(callers)
                                 : stream_over(std::move(target->file));
    opened.kind = opened.stream != nullptr ? reached::stream : reached::refused;
    return opened;
  }
  target->readable = (fcntl(file, F_GETFL) & O_ACCMODE) == O_RDWR;
  locate(*target, AT_FDCWD, is_link(name) ? path_of(file) : std::string(name));
  if (!names_file(*target, target->file)) {
    close(target->directory);
    target->directory = -1;
  }
  opened.kind = reached::file;
  opened.target = std::move(target);
  return opened;
}

file_handle& destination_file(destination& target) { return target.file; }

bool destination_readable(const destination& target) { return target.readable; }

bool still_reached(const destination& target) {
  return target.directory < 0 || names_file(target, target.file);
}

}  // namespace upgrade_info
