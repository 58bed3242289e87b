#ifndef UPGRADE_INFO_IO_PATH_WALK_H_
#define UPGRADE_INFO_IO_PATH_WALK_H_

// What a name reaches on Linux, found as the kernel finds it, but a
// component at a time by hand, from the directory that holds each: so that
// nothing is opened that could be made or keep the run waiting, every link
// on the way is seen, and one that another user planted in a shared sticky
// directory is refused, as the kernel's fs.protected_symlinks refuses it,
// whatever it is set to.

#include <sys/stat.h>

#include <optional>
#include <string>

#include "io/file_handle.h"

namespace upgrade_info {

struct walked_path {
  file_handle directory;  // that holds the last component (O_PATH)
  std::string name;       // the last component there
  // What the name is, its links followed; nothing where it is missing.
  std::optional<struct stat> entry;
  // The descriptor that a link of the kernel's at the end names, as
  // /proc/self/fd/1 does (reached by /dev/stdout), or on the way names
  // where it is not the caller's, which ends the walk there; -1 for none.
  int descriptor = -1;
};

// Nothing where the name cannot be followed: a component on the way
// missing or no directory, too many links, a planted link, or a name that
// ends in a directory.
std::optional<walked_path> walk_path(const std::string& path);

// Whether `entry` was put in the directory `holder` by someone else for
// this user to follow or write into: in a sticky directory that everyone
// may write, owned neither by the user nor by the directory's owner.
bool planted(const struct stat& holder, const struct stat& entry);

// Whether `descriptor` is one the caller handed the program: open, kept
// open across the program's start (no close-on-exec, which every one the
// program opens has), and not a standard stream closed at start.
bool callers_descriptor(int descriptor);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_PATH_WALK_H_
