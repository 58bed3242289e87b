// The temporary of a named output on Linux: an unnamed file in the
// destination's directory (O_TMPFILE), named only at the commit, with
// every signal held, then put in the destination's place. No one can open
// a file that has no name, so it is made with what making the destination
// would give (0666 less the umask, or the directory's default access
// list), and given the access of the file it replaces before it is named.
// Where a file system has no unnamed files, or one could not be named
// later, it is named from the start, with permissions for its user alone,
// and any signal that ends the process removes it first. Between its
// naming and the rename, a SIGKILL, which nothing can hold, leaves it
// behind.

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "io/temporary_name.h"
#include "replacement/attributes.h"
#include "replacement/destination_linux.h"
#include "replacement/temporary.h"

namespace upgrade_info {

namespace {

// The named temporary that a signal must not leave behind.
int pending_directory = -1;
char pending_name[NAME_MAX + 1];

void remove_pending_temporary() {
  unlinkat(pending_directory, pending_name, 0);
}

// Gives the temporary a fresh name beside the destination by `naming` it
// so, another name each time one is taken.
template <typename Naming>
bool name_freshly(destination& target, Naming naming) {
  const termination_held held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporary_name_for<char>(target.name, NAME_MAX);
    if (naming(name)) {
      target.temporary = name;
      pending_directory = target.directory.get();
      name.copy(pending_name, NAME_MAX);
      pending_name[std::min(name.size(), std::size_t{NAME_MAX})] = '\0';
      set_termination_cleanup(remove_pending_temporary);
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return false;
}

enum class renamed { yes, raced, refused, failed };

// Lets go of the temporary's name, which holds another file by now.
renamed leave_name(destination& target) {
  target.temporary.clear();
  clear_termination_cleanup();
  return renamed::failed;
}

// Whether the directory holds `file` under `name`.
bool holds(int directory, const char* name, const struct stat& file) {
  struct stat named {};
  return fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_inode(named, file);
}

// Puts the temporary at the destination's name, which must reach the file
// `checked` at that very moment, or nothing where `checked` is null: the
// two are exchanged, and exchanged back where the name reached another
// file by then. In a directory others may write, the temporary's name may
// hold another file than the temporary by then: it is never put in place,
// and never removed. A file system that exchanges no names gets a plain
// rename. In a directory that keeps every name, the unnamed temporary
// takes the name at once, since no other could be taken back.
renamed rename_over(destination& target, const file_handle& file,
                    const struct stat* checked) {
  const int at = target.directory.get();
  const char* temporary = target.temporary.c_str();
  const char* name = target.name.c_str();
  struct stat ours {};
  struct stat named {};
  if (fstat(file.get(), &ours) != 0 ||
      (!target.append_only &&
       fstatat(at, temporary, &named, AT_SYMLINK_NOFOLLOW) != 0)) {
    return renamed::failed;
  }
  if (!target.append_only && !same_inode(named, ours)) {
    return leave_name(target);
  }
  if (target.append_only
          ? !link_unnamed(file, at, name)
          : renameat2(at, temporary, at, name,
                      checked ? RENAME_EXCHANGE : RENAME_NOREPLACE) != 0) {
    // Another file took the name meanwhile, or the file checked left it.
    if (errno == EEXIST || (checked && errno == ENOENT)) {
      return renamed::raced;
    }
    if (errno == EINVAL && !target.append_only &&
        renameat(at, temporary, at, name) == 0) {
      return renamed::yes;
    }
    return refuses_replacement(errno) ? renamed::refused : renamed::failed;
  }
  const bool placed = target.append_only || holds(at, name, ours);
  if (placed && (!checked || (holds(at, temporary, *checked) &&
                              unlinkat(at, temporary, 0) == 0))) {
    return renamed::yes;
  }
  // What was moved goes back where it was, and is looked at again: a file
  // not the temporary at the temporary's name is left alone.
  renameat2(at, name, at, temporary,
            checked ? RENAME_EXCHANGE : RENAME_NOREPLACE);
  if (fstatat(at, temporary, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      !same_inode(named, ours)) {
    return leave_name(target);
  }
  return renamed::raced;
}

enum class turn { taken, raced, failed };

// This run's turn at the destination's name. Runs on one output hold the
// file the name reaches, `checked` (none where it is missing), and their
// own temporary, which it is to reach, from before they change the name
// until they are done, so that no two changes of it interleave, nor one
// and a write in place. Waited for a millisecond at a time, while the name
// still reaches what was checked and no signal waits.
turn take_turn(const destination& target, const file_handle& temporary,
               const struct stat* checked, const termination_held& held) {
  for (;;) {
    if (take_run_lock(temporary.get(), F_WRLCK, false) &&
        (!checked || take_run_lock(target.file.get(), F_WRLCK, false))) {
      return turn::taken;
    }
    if (errno != EAGAIN || held.pending()) {
      return turn::failed;
    }
    struct stat named {};
    const bool there = fstatat(target.directory.get(), target.name.c_str(),
                               &named, AT_SYMLINK_NOFOLLOW) == 0;
    if (checked ? !there || !same_inode(named, *checked) : there) {
      return turn::raced;
    }
    usleep(1000);
  }
}

bool opened_file_is(const destination& target, const struct stat& status) {
  struct stat opened {};
  return target.file && fstat(target.file.get(), &opened) == 0 &&
         same_inode(opened, status);
}

}  // namespace

file_handle create_temporary(destination& target, temporary_outcome& outcome) {
  outcome = temporary_outcome::in_place;
  // A temporary named in a directory that keeps every name could be
  // neither renamed over the file nor removed; none reaches a file that is
  // a mount of its own.
  if (target.file && (target.append_only || target.own_mount)) {
    return {};
  }
  const int at = target.directory.get();
  file_handle file;
  if (unnamed_files_can_be_named()) {
    file = file_handle(openat(at, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  } else {
    errno = EOPNOTSUPP;
  }
  if (!file && !target.append_only &&
      (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    name_freshly(target, [&](const std::string& name) {
      file = file_handle(openat(at, name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      return static_cast<bool>(file);
    });
  }
  if (!file) {
    outcome = refuses_replacement(errno) ? temporary_outcome::in_place
                                         : temporary_outcome::failed;
    return {};
  }
  outcome = temporary_outcome::made;
  return file;
}

commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held& held) {
  commit_outcome outcome = commit_outcome::failed;
  for (int tries = 0; tries < 100; ++tries) {
    // What the name reaches now is what is replaced, and gives its access:
    // never opened but to write a regular file, which never waits.
    struct stat now {};
    const bool missing = fstatat(target.directory.get(), target.name.c_str(),
                                 &now, AT_SYMLINK_NOFOLLOW) != 0;
    if (missing ? errno != ENOENT : !S_ISREG(now.st_mode)) {
      break;
    }
    if (!missing && !opened_file_is(target, now)) {
      target.file = open_regular(target, now);
      if (!target.file) {
        if (errno == ESTALE) {
          continue;
        }
        break;
      }
    }
    if (!missing && target.append_only) {
      outcome = commit_outcome::in_place;
      break;
    }
    const access_kept access =
        !missing ? keep_access(target.file, temporary)
        : target.temporary.empty()
            ? access_kept::yes
            : give_new_file_access(target.directory, temporary);
    if (access != access_kept::yes) {
      if (access == access_kept::refused && !missing) {
        outcome = commit_outcome::in_place;
      }
      break;
    }
    if (target.temporary.empty() && !target.append_only &&
        !name_freshly(target, [&](const std::string& name) {
          return link_unnamed(temporary, target.directory.get(), name.c_str());
        })) {
      break;
    }
    const turn taken =
        take_turn(target, temporary, missing ? nullptr : &now, held);
    if (taken == turn::raced) {
      continue;
    }
    // A signal that came meanwhile stops a change not yet made.
    if (taken == turn::failed || held.pending()) {
      break;
    }
    const renamed result =
        rename_over(target, temporary, missing ? nullptr : &now);
    if (result == renamed::yes) {
      target.temporary.clear();
      clear_termination_cleanup();
      return commit_outcome::replaced;
    }
    if (result != renamed::raced) {
      if (result == renamed::refused && !missing) {
        outcome = commit_outcome::in_place;
      }
      break;
    }
  }
  // One that keeps its name where removing it fails keeps no access given.
  if (!target.temporary.empty()) {
    fchmod(temporary.get(), S_IRUSR | S_IWUSR);
  }
  discard_temporary(target);
  return outcome;
}

void discard_temporary(destination& target) {
  if (!target.temporary.empty()) {
    const termination_held held;
    unlinkat(target.directory.get(), target.temporary.c_str(), 0);
    target.temporary.clear();
    clear_termination_cleanup();
  }
}

}  // namespace upgrade_info
