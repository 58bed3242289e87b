#ifndef UPGRADE_INFO_FILE_REPLACEMENT_H_
#define UPGRADE_INFO_FILE_REPLACEMENT_H_

// What writing a named output needs from the operating system: opening the
// destination as the system opens a file to write it, a temporary file
// beside it for the new contents, and putting those contents in its place.
// Each platform implements it in a file of its own.

#include <cstdio>
#include <memory>

namespace upgrade_info::file_replacement {

// Makes exceeding the file-size limit a failed write rather than a signal
// that ends the process, so that it is reported and cleaned up.
void treat_file_size_limit_as_write_error();

// A named output, opened with the permission checks that opening it to
// write would meet, links followed by the system itself, but not truncated:
// nothing about it changes before the new contents are complete.
struct destination;
struct destination_closer {
  void operator()(destination* opened) const;
};
using destination_ptr = std::unique_ptr<destination, destination_closer>;

enum class reached {
  file,     // an existing regular file
  missing,  // nothing yet: a new file is to be made
  stream,   // written where it stands: a device, a FIFO, an open descriptor
  refused,  // may not be written
};

struct opened_destination {
  reached kind = reached::refused;
  destination_ptr file;         // for file and missing
  std::FILE* stream = nullptr;  // for stream
};
opened_destination open_destination(const char* name);

enum class temporary_outcome {
  made,
  refused,  // the directory takes no new file, or must keep its names
  failed,   // no room for one, or another error
};
// A new, empty file, readable and writable, where the new contents go
// before they replace the destination; it has the destination's owner,
// group, permissions and extended attributes where they can be given, or
// those that creating the destination would give. Returns nullptr with the
// reason when none can be made.
std::FILE* create_temporary(destination& target, temporary_outcome& outcome);

// An unnamed, readable and writable file in the system's temporary
// directory, gone once closed; nullptr when none can be made.
std::FILE* create_spill();

// Puts `temporary`, which holds the whole new contents, in the destination's
// place and closes it: renamed over it, or written over it in place where no
// rename can reach it. Returns false when that failed; the destination is
// then as it was.
bool commit_temporary(destination& target, std::FILE* temporary);

// Closes `temporary` and removes it, leaving the destination as it was.
void discard_temporary(destination& target, std::FILE* temporary);

// Writes the whole of `contents` over the existing destination, in place,
// for one that no temporary can replace. Room for the new contents is
// reserved first, so that every failure until the overwrite itself leaves
// the destination as it was.
bool write_in_place(destination& target, std::FILE* contents);

}  // namespace upgrade_info::file_replacement

#endif  // UPGRADE_INFO_FILE_REPLACEMENT_H_
