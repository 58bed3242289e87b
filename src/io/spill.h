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

// A new, empty file there for what may have to outlive the run: the old
// contents of a file overwritten in place, where they cannot be given
// back. Until kept, it is gone once it goes, and with the process where
// the system allows: an unnamed file that can be named later on Linux;
// elsewhere it has a name from its making, taken back when it goes.
class saved_copy {
 public:
  saved_copy();
  ~saved_copy();
  saved_copy(const saved_copy&) = delete;
  saved_copy& operator=(const saved_copy&) = delete;

  file_handle& file() { return file_; }
  // Keeps it in the temporary directory, whole, with no more room needed:
  // its name there, in the program's own form of names, or nothing where
  // it cannot be kept.
  std::optional<std::string> keep();

 private:
  file_handle file_;
  std::string path_;  // its name, while it has one to be taken back
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_SPILL_H_
