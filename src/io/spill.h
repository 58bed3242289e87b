#ifndef UPGRADE_INFO_IO_SPILL_H_
#define UPGRADE_INFO_IO_SPILL_H_

// Files in the system's temporary directory (TMPDIR where it is a
// directory the user may write, else /tmp; on Windows its temporary
// directory) that hold bytes for a while: an input that can be read only
// once, the new contents of a destination written in place, and its old
// contents meanwhile.

#include <string>

#include "io/file_handle.h"

namespace upgrade_info {

// A new, empty file, readable and writable by the user alone, that is gone
// once closed, or as soon as the process ends; none when it cannot be made.
file_handle create_spill();

// A new, empty file there, readable and writable by its user alone, with
// a name from its making, set in `path` in the program's own form of
// names: for the old contents of a file overwritten in place, which must
// be kept where they cannot be given back, when keeping them must need no
// more room than they hold. Nothing removes it but remove_named_spill,
// which is false when it could not.
file_handle create_named_spill(std::string& path);
bool remove_named_spill(const std::string& path);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_SPILL_H_
