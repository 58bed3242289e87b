#ifndef UPGRADE_INFO_REPLACEMENT_IN_PLACE_H_
#define UPGRADE_INFO_REPLACEMENT_IN_PLACE_H_

// Writing new contents over an existing file, for a destination that no
// temporary can replace. Runs that do so take turns on the file; each
// saves the old contents whole in a spill file named from its making, so
// that keeping it needs no more room, before it touches the file, and on
// any failure puts every old byte back, and the old length, or keeps that
// copy and says where.

#include <cstdint>
#include <optional>
#include <string>

#include "io/file_handle.h"
#include "replacement/destination.h"

namespace upgrade_info {

struct in_place_result {
  bool written = false;
  // Where the old contents are kept: where the file could not be given
  // them back after a failed overwrite, or, rarely, where their copy could
  // not be removed.
  std::optional<std::string> kept_copy;
};

// Writes the first `length` bytes of `contents` over the destination and
// cuts it to that length.
in_place_result write_in_place(destination& target, const file_handle& contents,
                               std::uint64_t length);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_IN_PLACE_H_
