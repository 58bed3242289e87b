#include "replacement/in_place.h"

#include "io/spill.h"
#include "io/termination.h"

namespace upgrade_info {

namespace {

// Writes the first `length` bytes of `from` over `to`, cut to that length;
// a file system that writes back only on close (NFS) reports its errors
// now.
bool overwrite(const file_handle& from, file_handle& to, std::uint64_t length) {
  return copy_contents(from, to, length) && to.resize(length) &&
         to.close_duplicate();
}

}  // namespace

in_place_result write_in_place(destination& target, const file_handle& contents,
                               std::uint64_t length) {
  file_handle& file = destination_file(target);
  // Waited for before any signal is held: another run may hold it long.
  if (!file.lock()) {
    return {};
  }
  termination_held held;
  const std::optional<std::uint64_t> old_length = file.size();
  if (!old_length || !still_reached(target)) {
    return {};
  }
  // A file the user may write but not read cannot be saved; its old
  // contents are what the user could not see anyway.
  std::string saved_path;
  file_handle saved;
  if (destination_readable(target)) {
    saved = create_named_spill(saved_path);
    if (!saved || !overwrite(file, saved, *old_length) || held.pending()) {
      if (saved) {
        remove_named_spill(saved_path);
      }
      return {};
    }
  }
  in_place_result result;
  result.written = overwrite(contents, file, length);
  if (result.written) {
    held.keep();
  }
  // The saved copy goes once the file holds whole contents again, new or
  // old; where it cannot go, it is named, as where it holds the only copy.
  if (saved && (!(result.written || overwrite(saved, file, *old_length)) ||
                !remove_named_spill(saved_path))) {
    result.kept_copy = saved_path;
  }
  return result;
}

}  // namespace upgrade_info
