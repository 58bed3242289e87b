#ifndef UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_
#define UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_

// The destination as Linux holds it, shared by the files that check it
// and that put the temporary in its place.

#include <unistd.h>

#include <string>

#include "replacement/destination.h"
#include "replacement/file_handle.h"

namespace upgrade_info {

struct destination {
  std::string given;         // the name as given, through which it is checked
  file_handle file;          // the existing file as opened; none while missing
  int directory = -1;        // that holds it or will hold it; -1 when it cannot
                             // be found, so that it is only written in place
  std::string name;          // in that directory
  bool append_only = false;  // the directory keeps every name it is given
  // Missing at the end of a link: made through the link only on commit,
  // when the system applies its rules on following links to it.
  bool made_on_commit = false;
  std::string temporary;  // the temporary's name there, while it has one

  destination() = default;
  destination(const destination&) = delete;
  destination& operator=(const destination&) = delete;
  ~destination() {
    if (directory >= 0) {
      close(directory);
    }
  }
};

// Opens `given` as a program writing it does (links followed, made when
// missing), but to write and, where the user may, to read, without
// truncating it: the file it reaches, or none.
file_handle open_to_write(const std::string& given);

// Whether `file` is the one the directory holds under the destination's
// name.
bool names_file(const destination& target, const file_handle& file);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_DESTINATION_LINUX_H_
