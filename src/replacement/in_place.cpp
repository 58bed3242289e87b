#include "replacement/in_place.h"

#include "io/spill.h"
#include "io/termination.h"
#include "replacement/attributes.h"

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
  std::optional<saved_copy> saved;
  unsigned char beyond = 0;
  if (destination_readable(target)) {
    saved.emplace();
    // A file that holds more than it reports (a device) is never saved in
    // part and then overwritten.
    if (!*saved || !overwrite(file, saved->file(), *old_length) ||
        file.read_at(&beyond, 1, *old_length) !=
            std::optional<std::size_t>(0) ||
        held.pending() || !saved->whole()) {
      return {};
    }
  }
  const cleared_by_writing access(file);
  if (!access) {
    return {};
  }
  in_place_result result;
  result.written = overwrite(contents, file, length) && access.give_back(file);
  if (result.written) {
    held.keep();
  }
  const bool old_back = saved && !result.written &&
                        overwrite(saved->file(), file, *old_length) &&
                        access.give_back(file);
  // The saved copy goes once the file holds whole contents again, new or
  // old; where it cannot go, it is named, as where it holds the only copy.
  if (saved && ((!result.written && !old_back) || !saved->discard())) {
    result.kept_copy = saved->keep();
  }
  return result;
}

}  // namespace upgrade_info
