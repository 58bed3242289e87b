#ifndef UPGRADE_INFO_REPLACEMENT_SPILL_H_
#define UPGRADE_INFO_REPLACEMENT_SPILL_H_

// Files in the system's temporary directory (TMPDIR, else /tmp; on Windows
// its temporary directory) that hold bytes for a while: an input that can
// be read only once, the new contents of a destination written in place,
// and its old contents meanwhile.

#include <cstdint>
#include <optional>
#include <string>

#include "replacement/file_handle.h"

namespace upgrade_info {

// A new, empty file, readable and writable, that has no name there and is
// gone once closed, or as soon as the process ends; none when it cannot be
// made.
file_handle create_spill();

// Copies the first `length` bytes of `contents` into a new file in the
// temporary directory that outlives the run: its path, in the program's
// own form of names, or nothing when it could not be made whole.
std::optional<std::string> keep_copy(const file_handle& contents,
                                     std::uint64_t length);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_SPILL_H_
