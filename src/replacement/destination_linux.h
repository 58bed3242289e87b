#ifndef UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_
#define UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_

// The destination as Linux holds it, shared by the files that check it
// and that put the temporary in its place.

#include <sys/stat.h>

#include <string>

#include "io/file_handle.h"
#include "replacement/destination.h"

namespace upgrade_info {

struct destination {
  file_handle directory;     // that holds it, or will hold it
  std::string name;          // in that directory
  file_handle file;          // the existing file as opened; none while missing
  bool append_only = false;  // the directory keeps every name it is given
  // The file is a mount of its own, or on another file system than its
  // directory (a bind-mounted file): no rename reaches it.
  bool own_mount = false;
  std::string temporary;  // the temporary's name there, while it has one
};

// Opens the regular file `status` describes, which the destination's name
// reaches, as the check at the start does: to write and, where the user
// may, to read; never following a link, never waiting. None where the
// system refuses, or the name reaches another file by now.
file_handle open_regular(const destination& target, const struct stat& status);

bool same_inode(const struct stat& a, const struct stat& b);

// Whether `error` is the system's refusal of a replacement where it lets
// the user write the file, the one reason to write it in place: no new
// file in its directory, or no change of names there (another file system
// or a mount point, as for a bind-mounted file; a read-only mount; a
// sticky directory's rules), or access that cannot be given (another
// user's file). Any other error is a failure.
bool refuses_replacement(int error);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_
