// Replacing a named output on Linux.
//
// The system itself opens the destination and follows its links, so that
// its rules on who may write what apply exactly as to any program writing
// the file: permissions, fs.protected_symlinks and fs.protected_regular,
// immutable and append-only files, read-only mounts. The file it reached is
// then replaced, found again through its directory's descriptor, so that no
// path grows longer than the one given.
//
// The new contents go to an unnamed file in the destination's directory
// (O_TMPFILE), which is named only once complete, with every signal held:
// whatever ends the process, nothing is left behind. Where a file system
// has no unnamed files, a named temporary is removed by any signal that
// would end the process.

#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_replacement.h"
#include "temporary_name.h"
#include "termination_cleanup.h"

namespace upgrade_info::file_replacement {

struct destination {
  int file = -1;       // the existing file, open to write; -1 when missing
  int directory = -1;  // the directory that holds it or will hold it; -1
                       // when it cannot be found, so only in place
  std::string name;    // the name in that directory
  bool append_only = false;  // the directory keeps every name it is given
  std::string temporary;     // the temporary's name there, while it has one

  destination() = default;
  destination(const destination&) = delete;
  destination& operator=(const destination&) = delete;
  ~destination() {
    for (const int descriptor : {file, directory}) {
      if (descriptor >= 0) {
        close(descriptor);
      }
    }
  }
};

void destination_closer::operator()(destination* opened) const {
  delete opened;
}

namespace {

constexpr std::size_t PIECE = std::size_t{1} << 20;

// Holds back every signal while names change or a file is overwritten, so
// that none ends the process halfway.
class signals_held {
 public:
  signals_held() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous_);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t previous_;
};

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool is_link(const char* path) {
  struct stat status {};
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

// The descriptor that a name of an open file (/dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N) stands for, or -1 for any other name.
int descriptor_named(std::string_view name) {
  if (name == "/dev/stdout") {
    return STDOUT_FILENO;
  }
  if (name == "/dev/stderr") {
    return STDERR_FILENO;
  }
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (name.starts_with(prefix) && name.size() > prefix.size()) {
      const char* end = name.data() + name.size();
      int described = -1;
      const auto parsed =
          std::from_chars(name.data() + prefix.size(), end, described);
      if (parsed.ec == std::errc() && parsed.ptr == end) {
        return described;
      }
    }
  }
  return -1;
}

// A stream that writes through the caller's descriptor, at its offset, as
// its other writers do; nullptr when it is not open to write.
std::FILE* stream_through(int described) {
  const int flags = fcntl(described, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
    return nullptr;
  }
  const int copy = fcntl(described, F_DUPFD_CLOEXEC, 0);
  std::FILE* stream = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (stream == nullptr && copy >= 0) {
    close(copy);
  }
  return stream;
}

std::string proc_path(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
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

// Opens the directory of the file at `path` and notes the file's name in it.
void locate(destination& target, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  target.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (target.name.empty()) {
    return;
  }
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                             : path.substr(0, slash);
  target.directory = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct statx attributes {};
  target.append_only =
      target.directory >= 0 &&
      statx(target.directory, "", AT_EMPTY_PATH, 0, &attributes) == 0 &&
      (attributes.stx_attributes & STATX_ATTR_APPEND) != 0;
}

// Whether the name found by locate() still names the file open as `file`.
bool names_file(const destination& target, int file) {
  struct stat named {};
  struct stat opened {};
  return target.directory >= 0 &&
         fstatat(target.directory, target.name.c_str(), &named,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(file, &opened) == 0 && same_file(named, opened);
}

void forget_directory(destination& target) {
  close(target.directory);
  target.directory = -1;
}

// The named temporary that a signal must not leave behind; set before the
// cleanup is, and cleared after it.
int pending_directory = -1;
char pending_name[NAME_MAX + 1];

void remove_pending_temporary() {
  unlinkat(pending_directory, pending_name, 0);
}

void remove_temporary(destination& target) {
  if (!target.temporary.empty()) {
    const signals_held held;
    unlinkat(target.directory, target.temporary.c_str(), 0);
    target.temporary.clear();
    clear_termination_cleanup();
  }
}

std::string new_temporary_name(const destination& target) {
  return temporary_name_for<char>(target.name, NAME_MAX);
}

// Errors that say a file system keeps no unnamed files.
bool has_no_unnamed_files(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

int create_named_temporary(destination& target) {
  const signals_held held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = new_temporary_name(target);
    const int file = openat(target.directory, name.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file >= 0) {
      target.temporary = name;
      pending_directory = target.directory;
      name.copy(pending_name, NAME_MAX);
      pending_name[std::min(name.size(), std::size_t{NAME_MAX})] = '\0';
      set_termination_cleanup(remove_pending_temporary);
      return file;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return -1;
}

// Links the unnamed file open as `file` into the directory as `name`.
bool link_as(int file, const destination& target, const std::string& name) {
  if (linkat(AT_FDCWD, proc_path(file).c_str(), target.directory, name.c_str(),
             AT_SYMLINK_FOLLOW) == 0) {
    return true;
  }
  // Without /proc, only a process that may read any file links a
  // descriptor itself.
  return errno == ENOENT &&
         linkat(file, "", target.directory, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Gives the unnamed temporary open as `file` its name: the destination's
// own when there is no file yet, else a temporary one to rename over it.
bool give_name(destination& target, int file) {
  if (target.file < 0) {
    if (!link_as(file, target, target.name)) {
      return false;
    }
    target.temporary = target.name;
    return true;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = new_temporary_name(target);
    if (link_as(file, target, name)) {
      target.temporary = std::move(name);
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return false;
}

// A new file gets its owner and group from the process that makes it; the
// existing file's are kept where the process may give them, each on its
// own, as are its permissions (but a set-user or set-group bit for an owner
// or group that was not kept) and its extended attributes, the access ACL
// among them, so that a rewrite neither grants nor takes away anyone's
// access.
std::vector<std::string> attribute_names(int file) {
  const ssize_t size = flistxattr(file, nullptr, 0);
  std::vector<char> list(size > 0 ? static_cast<std::size_t>(size) : 0);
  const ssize_t listed =
      list.empty() ? 0 : flistxattr(file, list.data(), list.size());
  std::vector<std::string> names;
  for (std::size_t at = 0;
       listed > 0 && at < static_cast<std::size_t>(listed);) {
    names.emplace_back(list.data() + at);
    at += names.back().size() + 1;
  }
  return names;
}

void copy_extended_attributes(int from, int to) {
  const std::vector<std::string> kept = attribute_names(from);
  for (const std::string& name : attribute_names(to)) {
    if (std::find(kept.begin(), kept.end(), name) == kept.end()) {
      fremovexattr(to, name.c_str());
    }
  }
  for (const std::string& name : kept) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size >= 0 &&
        fgetxattr(from, name.c_str(), value.data(), value.size()) == size) {
      fsetxattr(to, name.c_str(), value.data(), value.size(), 0);
    }
  }
}

void keep_attributes(int temporary, int existing) {
  struct stat status {};
  if (fstat(existing, &status) != 0) {
    return;
  }
  mode_t mode = status.st_mode & 07777;
  if (fchown(temporary, status.st_uid, status.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID);
    if (fchown(temporary, static_cast<uid_t>(-1), status.st_gid) != 0) {
      mode &= ~static_cast<mode_t>(S_ISGID);
    }
  }
  fchmod(temporary, mode);
  copy_extended_attributes(existing, temporary);
}

bool write_all_at(int file, const char* bytes, std::size_t size, off_t at) {
  while (size > 0) {
    const ssize_t written = pwrite(file, bytes, size, at);
    if (written <= 0) {
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    at += written;
  }
  return true;
}

// Makes sure that `size` bytes can be written from the start of `file`,
// now `current` bytes long, before any is: by allocating the blocks where
// the file system can, else by extending the file with zeros, taken back
// should that fail. What the file holds does not change.
bool reserve(int file, off_t size, off_t current) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur) {
    return false;
  }
  if (size == 0 || fallocate(file, FALLOC_FL_KEEP_SIZE, 0, size) == 0) {
    return true;
  }
  if (errno != EOPNOTSUPP || size <= current) {
    return errno == EOPNOTSUPP;
  }
  const std::vector<char> zeros(PIECE);
  for (off_t at = current; at < size;) {
    const auto piece =
        static_cast<std::size_t>(std::min<off_t>(size - at, PIECE));
    if (!write_all_at(file, zeros.data(), piece, at)) {
      (void)ftruncate(file, current);
      return false;
    }
    at += static_cast<off_t>(piece);
  }
  return true;
}

// Writes the whole of `source` over `target` from its start and cuts it to
// that length, once there is room. The caller holds the signals.
bool overwrite(int target, int source) {
  struct stat from {};
  struct stat to {};
  if (fstat(source, &from) != 0 || fstat(target, &to) != 0 ||
      !reserve(target, from.st_size, to.st_size)) {
    return false;
  }
  std::vector<char> piece(PIECE);
  for (off_t at = 0; at < from.st_size;) {
    const ssize_t got = pread(
        source, piece.data(),
        static_cast<std::size_t>(std::min<off_t>(from.st_size - at, PIECE)),
        at);
    if (got <= 0 || !write_all_at(target, piece.data(),
                                  static_cast<std::size_t>(got), at)) {
      return false;
    }
    at += got;
  }
  return ftruncate(target, from.st_size) == 0;
}

std::FILE* stream_over(int file) {
  std::FILE* stream = fdopen(file, "w+b");
  if (stream == nullptr) {
    close(file);
  }
  return stream;
}

}  // namespace

void treat_file_size_limit_as_write_error() { std::signal(SIGXFSZ, SIG_IGN); }

opened_destination open_destination(const char* name) {
  opened_destination opened;
  if (const int described = descriptor_named(name); described >= 0) {
    opened.stream = stream_through(described);
    opened.kind = opened.stream != nullptr ? reached::stream : reached::refused;
    return opened;
  }
  destination_ptr target(new destination);
  struct stat status {};
  const bool exists = stat(name, &status) == 0;
  const bool missing = !exists && errno == ENOENT;
  if (!exists && (!missing || !is_link(name))) {
    if (missing) {
      locate(*target, name);
    }
    if (target->directory >= 0) {
      opened.kind = reached::missing;
      opened.file = std::move(target);
    }
    return opened;
  }
  // An existing file, or a link to a missing one, which opening makes: it
  // is taken back at once, and made whole only on commit.
  std::optional<signals_held> held;
  if (!exists) {
    held.emplace();
  }
  const int file = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (file < 0) {
    return opened;
  }
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    opened.stream = fdopen(file, "wb");
    if (opened.stream == nullptr) {
      close(file);
      return opened;
    }
    opened.kind = reached::stream;
    return opened;
  }
  target->file = file;
  locate(*target, is_link(name) ? path_of(file) : std::string(name));
  if (!names_file(*target, file)) {
    forget_directory(*target);
  } else if (!exists &&
             unlinkat(target->directory, target->name.c_str(), 0) == 0) {
    close(target->file);
    target->file = -1;
  }
  opened.kind = target->file >= 0 ? reached::file : reached::missing;
  opened.file = std::move(target);
  return opened;
}

std::FILE* create_temporary(destination& target, temporary_outcome& outcome) {
  outcome = temporary_outcome::refused;
  // In a directory that keeps every name, an existing file is written in
  // place: a temporary named there could be neither renamed nor removed.
  if (target.directory < 0 || (target.file >= 0 && target.append_only)) {
    return nullptr;
  }
  int file =
      openat(target.directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (file < 0 && has_no_unnamed_files(errno) && !target.append_only) {
    file = create_named_temporary(target);
  }
  if (file < 0) {
    const bool refused = errno == EACCES || errno == EPERM || errno == EROFS;
    outcome = refused ? temporary_outcome::refused : temporary_outcome::failed;
    return nullptr;
  }
  if (target.file >= 0) {
    keep_attributes(file, target.file);
  }
  std::FILE* stream = stream_over(file);
  if (stream == nullptr) {
    remove_temporary(target);
    outcome = temporary_outcome::failed;
    return nullptr;
  }
  outcome = temporary_outcome::made;
  return stream;
}

std::FILE* create_spill() {
  const char* directory = std::getenv("TMPDIR");
  if (directory == nullptr || *directory == '\0') {
    directory = "/tmp";
  }
  int file = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file < 0 && has_no_unnamed_files(errno)) {
    std::string path = std::string(directory) + "/.upgrade-info-XXXXXX";
    const signals_held held;
    file = mkostemp(path.data(), O_CLOEXEC);
    if (file >= 0) {
      unlink(path.c_str());
    }
  }
  return file < 0 ? nullptr : stream_over(file);
}

bool commit_temporary(destination& target, std::FILE* temporary) {
  bool written = std::fflush(temporary) == 0 && std::ferror(temporary) == 0;
  const signals_held held;
  if (written && target.temporary.empty()) {
    written = give_name(target, fileno(temporary));
  }
  written = std::fclose(temporary) == 0 && written;
  if (!written) {
    remove_temporary(target);
    return false;
  }
  if (target.temporary == target.name) {
    target.temporary.clear();
    return true;
  }
  if (renameat(target.directory, target.temporary.c_str(), target.directory,
               target.name.c_str()) == 0) {
    target.temporary.clear();
    clear_termination_cleanup();
    return true;
  }
  // A file that is a mount point of its own (EBUSY), or in a sticky
  // directory whose rules let this user write it but not replace it.
  const int error = errno;
  bool committed = false;
  if (error == EXDEV || error == EBUSY || error == EPERM || error == EACCES) {
    const int contents = openat(target.directory, target.temporary.c_str(),
                                O_RDONLY | O_CLOEXEC);
    committed = contents >= 0 && overwrite(target.file, contents);
    if (contents >= 0) {
      close(contents);
    }
  }
  remove_temporary(target);
  return committed;
}

void discard_temporary(destination& target, std::FILE* temporary) {
  std::fclose(temporary);
  remove_temporary(target);
}

bool write_in_place(destination& target, std::FILE* contents) {
  if (std::fflush(contents) != 0 || std::ferror(contents) != 0) {
    return false;
  }
  const signals_held held;
  return overwrite(target.file, fileno(contents));
}

}  // namespace upgrade_info::file_replacement
