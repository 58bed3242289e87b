#include "replacement/in_place.h"

#include <algorithm>

#include "replacement/spill.h"
#include "replacement/termination.h"

namespace upgrade_info {

in_place_result write_in_place(destination& target, const file_handle& contents,
                               std::uint64_t length) {
  file_handle& file = destination_file(target);
  const std::optional<std::uint64_t> old_length = file.size();
  if (!old_length) {
    return {};
  }
  // A file the user may write but not read cannot be saved; its old
  // contents are what the user could not see anyway.
  file_handle saved;
  if (destination_readable(target)) {
    saved = create_spill();
    if (!saved || !copy_contents(file, saved, *old_length)) {
      return {};
    }
  }
  if (!file.reserve(length)) {
    return {};
  }
  termination_held held;
  if (held.pending() || !still_reached(target)) {
    return {};
  }
  std::uint64_t touched = 0;
  if (copy_contents(contents, file, length, &touched) && file.resize(length) &&
      file.close_duplicate()) {
    held.keep();
    return {true, std::nullopt};
  }
  if (!saved) {
    return {};
  }
  // Only what the overwrite reached goes back: on a copy-on-write file
  // system each block rewritten takes room, and the blocks the overwrite
  // replaced are free only once the file system commits them.
  file.commit_to_disk();
  if (copy_contents(saved, file, std::min(touched, *old_length)) &&
      file.resize(*old_length)) {
    return {};
  }
  return {false, keep_copy(saved, *old_length)};
}

}  // namespace upgrade_info
