#ifndef UPGRADE_INFO_IO_SPILL_H_
#define UPGRADE_INFO_IO_SPILL_H_

// Files in the system's temporary directory (TMPDIR where it is a
// directory the user may write, else /tmp; on Windows its temporary
// directory) that hold bytes for a while: an input that can be read only
// once, the new contents of a destination written in place, and its old
// contents meanwhile.

#include <optional>
#include <string>

#include "io/file_handle.h"

namespace upgrade_info {

// A new, empty file, readable and writable by the user alone, that is gone
// once closed, or as soon as the process ends; none when it cannot be made.
file_handle create_spill();

// A new, empty file there, for the old contents of a file overwritten in
// place, which must be kept where they cannot be given back, and then need
// no more room than they hold: it has a name from its making, and goes
// when discarded, or with the object unless kept. On Linux only its user
// may read it, and a process killed meanwhile leaves it; on Windows it has
// the access of the user's temporary folder, and goes with its handle
// however the process ends, until it holds the old contents whole.
class saved_copy {
 public:
  saved_copy();
  ~saved_copy();
  saved_copy(const saved_copy&) = delete;
  saved_copy& operator=(const saved_copy&) = delete;

  explicit operator bool() const { return static_cast<bool>(file_); }
  file_handle& file() { return file_; }
  // It holds the old contents whole: from now on it outlives the process,
  // whose overwrite may end midway.
  bool whole();
  // Removes it; false where it could not be removed.
  bool discard();
  // Keeps it: its name, in the program's own form of names, or nothing
  // where it could not be kept.
  std::optional<std::string> keep();

 private:
  file_handle file_;
  std::string path_;
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_SPILL_H_
