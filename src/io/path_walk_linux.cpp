#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <deque>

#include "io/path_walk.h"
#include "io/standard_streams.h"

namespace upgrade_info {

namespace {

constexpr int MOST_LINKS = 40;  // as the kernel follows at most

// The components of `path`, after those still to be walked.
void push_components(std::deque<std::string>& components,
                     const std::string& path) {
  std::deque<std::string> added;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) {
      added.push_back(path.substr(at, slash - at));
    }
    at = slash + 1;
  }
  components.insert(components.begin(), added.begin(), added.end());
}

file_handle open_directory(int at, const char* name, int flags = 0) {
  return file_handle(
      openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags));
}

// Starts the walk of the absolute path whose components are `components`
// at the root: at the directory of its first component, opened by its full
// name, where there are more, since an emulator's view of the root (qemu's
// -L) may hold other directories than the root itself.
file_handle open_at_root(std::deque<std::string>& components) {
  if (components.size() < 2) {
    return open_directory(AT_FDCWD, "/");
  }
  const std::string first = "/" + components.front();
  components.pop_front();
  return open_directory(AT_FDCWD, first.c_str());
}

bool on_proc(int descriptor) {
  struct statfs file_system {};
  return fstatfs(descriptor, &file_system) == 0 &&
         file_system.f_type == PROC_SUPER_MAGIC;
}

std::string link_text(int at, const std::string& name) {
  char text[PATH_MAX];
  const ssize_t length = readlinkat(at, name.c_str(), text, sizeof text);
  return length > 0 && static_cast<std::size_t>(length) < sizeof text
             ? std::string(text, static_cast<std::size_t>(length))
             : std::string();
}

}  // namespace

bool planted(const struct stat& holder, const struct stat& entry) {
  return (holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0 &&
         entry.st_uid != geteuid() && entry.st_uid != holder.st_uid;
}

bool callers_descriptor(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) == 0 &&
         !is_held_standard_stream(descriptor);
}

std::optional<walked_path> walk_path(const std::string& path) {
  walked_path walked;
  std::deque<std::string> components;
  push_components(components, path);
  // A name that ends in a directory names no file.
  if (components.empty() || path.ends_with('/')) {
    return std::nullopt;
  }
  walked.directory = path.starts_with('/') ? open_at_root(components)
                                           : open_directory(AT_FDCWD, ".");
  for (int links = 0; walked.directory && !components.empty();) {
    const std::string name = components.front();
    components.pop_front();
    const int at = walked.directory.get();
    const bool last = components.empty();
    struct stat holder {};
    struct stat entry {};
    if (name == "." || name == "..") {
      if (last) {
        return std::nullopt;
      }
      walked.directory = open_directory(at, name.c_str());
      continue;
    }
    // Nothing can be made among the kernel's files: a descriptor not open
    // there names nothing.
    if (fstatat(at, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last || on_proc(at)) {
        return std::nullopt;
      }
      walked.name = name;
      return walked;
    }
    if (S_ISLNK(entry.st_mode) && on_proc(at)) {
      // The kernel's own links (/proc/self, /proc/self/fd/1) name what
      // only the kernel knows, and are followed by it: one named by a
      // number is a descriptor, which on the way to a file must be the
      // caller's, and at the end is what the name reaches.
      const char* end = name.data() + name.size();
      const bool numbered =
          std::from_chars(name.data(), end, walked.descriptor).ptr == end;
      if (last) {
        walked.name = name;
        walked.entry = entry;
        return numbered ? std::optional(std::move(walked)) : std::nullopt;
      }
      if (numbered && !callers_descriptor(walked.descriptor)) {
        walked.name = name;
        return walked;
      }
      walked.descriptor = -1;
      walked.directory = open_directory(at, name.c_str());
    } else if (S_ISLNK(entry.st_mode)) {
      const std::string text = link_text(at, name);
      if (++links > MOST_LINKS || fstat(at, &holder) != 0 ||
          planted(holder, entry) || text.empty()) {
        return std::nullopt;
      }
      // A link at the end whose text ends in a slash reaches a directory.
      push_components(components,
                      last && text.ends_with('/') ? text + "." : text);
      if (text.starts_with('/')) {
        walked.directory = open_at_root(components);
      }
    } else if (last) {
      walked.name = name;
      walked.entry = entry;
      return S_ISDIR(entry.st_mode) ? std::nullopt
                                    : std::optional(std::move(walked));
    } else {
      walked.directory = open_directory(at, name.c_str(), O_NOFOLLOW);
    }
  }
  return std::nullopt;
}

}  // namespace upgrade_info
