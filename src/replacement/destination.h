#ifndef UPGRADE_INFO_REPLACEMENT_DESTINATION_H_
#define UPGRADE_INFO_REPLACEMENT_DESTINATION_H_

// A named output, and the system's word on who may write it. What its name
// reaches is opened as a program writing it would be, but neither
// truncated nor made, and never waited for: nothing about it changes
// before the new contents are complete. From then to the commit it is this
// one object, told by what the system opened, never by how the name is
// spelled.

#include <cstdio>
#include <memory>

#include "io/file_handle.h"

namespace upgrade_info {

struct destination;  // each platform's own
struct destination_deleter {
  void operator()(destination* target) const;
};
using destination_ptr = std::unique_ptr<destination, destination_deleter>;

enum class reached {
  file,     // an existing regular file, to be replaced
  missing,  // nothing yet: a new file is to be made
  stream,   // written where it stands, in order: a device, a FIFO, a
            // file of the kernel's (/proc, /sys), a descriptor the name
            // spells (/dev/stdout)
  refused,  // may not be written, or cannot be opened
  fifo,     // a FIFO, not opened yet: opening it to write waits for a
            // reader, which may wait for this run's output
};

struct opened_destination {
  reached kind = reached::refused;
  destination_ptr target;       // for file and missing
  std::FILE* stream = nullptr;  // for stream
};
// Opens what `name` reaches now, before the program opens anything of its
// own that a name such as /proc/self/fd/3 could reach instead of the
// caller's. A FIFO is opened only `when_waiting_is_fine`.
opened_destination open_destination(const char* name,
                                    bool when_waiting_is_fine);

// The existing file as it was opened, to be written in place.
file_handle& destination_file(destination& target);
// Whether its contents can be read back, to be saved before it is
// overwritten: not for a file the user may write but not read.
bool destination_readable(const destination& target);
// Whether the destination's name still reaches that file.
bool still_reached(const destination& target);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_DESTINATION_H_
