// The temporary of a named output on Linux: an unnamed file in the
// destination's directory (O_TMPFILE), named only at the commit, with
// every signal held, then renamed over the destination. Where a file
// system has no unnamed files, it is named from the start, and any signal
// that ends the process removes it first. Between its naming and the
// rename, a SIGKILL, which nothing can hold, leaves it behind.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "replacement/attributes.h"
#include "replacement/destination_linux.h"
#include "replacement/temporary.h"
#include "replacement/temporary_name.h"

namespace upgrade_info {

namespace {

// The named temporary that a signal must not leave behind; set before the
// cleanup is, and cleared after it.
int pending_directory = -1;
char pending_name[NAME_MAX + 1];

void remove_pending_temporary() {
  unlinkat(pending_directory, pending_name, 0);
}

std::string new_temporary_name(const destination& target) {
  return temporary_name_for<char>(target.name, NAME_MAX);
}

// Errors that say a file system keeps no unnamed files.
bool has_no_unnamed_files(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

file_handle create_named_temporary(destination& target) {
  const termination_held held;
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
      return file_handle(file);
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return {};
}

// Links the unnamed file open as `file` into the directory as `name`.
bool link_as(const file_handle& file, const destination& target,
             const std::string& name) {
  const std::string path = "/proc/self/fd/" + std::to_string(file.get());
  if (linkat(AT_FDCWD, path.c_str(), target.directory, name.c_str(),
             AT_SYMLINK_FOLLOW) == 0) {
    return true;
  }
  // Without /proc, only a process that may read any file links a
  // descriptor itself.
  return errno == ENOENT && linkat(file.get(), "", target.directory,
                                   name.c_str(), AT_EMPTY_PATH) == 0;
}

// Gives the unnamed temporary a name to be renamed over the destination:
// a temporary one, so that a destination made meanwhile by another run is
// replaced as by a rename, the last commit winning; in a directory that
// keeps every name, the destination's own.
bool give_name(destination& target, const file_handle& file) {
  if (target.append_only) {
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

// The name reaches another file than the one the check opened: another
// run replaced it meanwhile, or someone put another file there. It is
// checked again as at the start, and taken as the destination only where
// it has the owner and group that the temporary was given, as the opened
// file had; false where it is not.
bool check_again(destination& target, const file_handle& temporary) {
  file_handle now = open_to_write(target.given);
  struct stat found {};
  struct stat made {};
  if (!now || fstat(now.get(), &found) != 0 ||
      fstat(temporary.get(), &made) != 0 || !S_ISREG(found.st_mode) ||
      found.st_uid != made.st_uid || found.st_gid != made.st_gid) {
    return false;
  }
  target.file = std::move(now);
  return true;
}

// Whether the destination's name reaches the file to be replaced, checked
// again for as long as other runs keep replacing it.
bool reaches_what_was_checked(destination& target,
                              const file_handle& temporary) {
  for (int tries = 0; tries < 100; ++tries) {
    if (!target.file || still_reached(target)) {
      return true;
    }
    if (!check_again(target, temporary)) {
      return false;
    }
  }
  return false;
}

// Makes, through the link the name given is, the missing file at its end,
// now that the system is to apply its rules on following links to it.
commit_outcome make_through_link(destination& target) {
  file_handle made = open_to_write(target.given);
  if (!made) {
    return commit_outcome::refused;
  }
  if (!names_file(target, made)) {
    return commit_outcome::failed;
  }
  target.file = std::move(made);
  target.made_on_commit = false;
  // In a directory that keeps every name, the new file is written in
  // place: it is empty and the run's own.
  return target.append_only ? commit_outcome::in_place
                            : commit_outcome::replaced;
}

}  // namespace

file_handle create_temporary(destination& target, temporary_outcome& outcome) {
  outcome = temporary_outcome::in_place;
  // In a directory that keeps every name, an existing file is written in
  // place: a temporary named there could be neither renamed nor removed.
  if (target.directory < 0 || (target.file && target.append_only)) {
    return {};
  }
  file_handle file(
      openat(target.directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  if (!file && has_no_unnamed_files(errno) && !target.append_only) {
    file = create_named_temporary(target);
  }
  if (!file) {
    // No room is a failure; anything else says that no temporary can be
    // made there.
    const bool no_room = errno == ENOSPC || errno == EDQUOT ||
                         errno == EMFILE || errno == ENFILE || errno == ENOMEM;
    outcome = no_room ? temporary_outcome::failed : temporary_outcome::in_place;
    return {};
  }
  if (target.file && !keep_attributes(target.file, file)) {
    discard_temporary(target);
    return {};
  }
  outcome = temporary_outcome::made;
  return file;
}

commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held& held) {
  if (target.made_on_commit) {
    if (const commit_outcome made = make_through_link(target);
        made != commit_outcome::replaced) {
      discard_temporary(target);
      return made;
    }
  }
  if (target.temporary.empty() && !give_name(target, temporary)) {
    return commit_outcome::failed;
  }
  if (held.pending() || !reaches_what_was_checked(target, temporary)) {
    discard_temporary(target);
    return commit_outcome::failed;
  }
  if (target.temporary == target.name) {
    target.temporary.clear();
    return commit_outcome::replaced;
  }
  if (renameat(target.directory, target.temporary.c_str(), target.directory,
               target.name.c_str()) == 0) {
    target.temporary.clear();
    clear_termination_cleanup();
    return commit_outcome::replaced;
  }
  // A file that is a mount point of its own (EBUSY), on another file
  // system than the name's directory (EXDEV), or in a sticky directory
  // whose rules let this user write it but not replace it (EPERM, EACCES).
  const int error = errno;
  discard_temporary(target);
  const bool unreachable =
      error == EXDEV || error == EBUSY || error == EPERM || error == EACCES;
  return target.file && unreachable ? commit_outcome::in_place
                                    : commit_outcome::failed;
}

void discard_temporary(destination& target) {
  if (!target.temporary.empty()) {
    const termination_held held;
    unlinkat(target.directory, target.temporary.c_str(), 0);
    target.temporary.clear();
    clear_termination_cleanup();
  }
}

}  // namespace upgrade_info
