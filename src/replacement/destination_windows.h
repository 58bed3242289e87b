#ifndef UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_
#define UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_

// The destination as Windows holds it, shared by the files that check it
// and that put the temporary in its place.

#include <string>

#include "io/file_handle.h"
#include "replacement/destination.h"

namespace upgrade_info {

struct destination {
  // The name as the wide functions take it; once the existing file is
  // opened, its own full path, spelled as the file system has it (case,
  // long names), so that a replacement keeps the name as it was.
  std::wstring path;
  file_handle file;  // the existing file as opened; none while missing
  bool readable = false;
  bool exists = false;     // else a new file is to be made
  std::wstring temporary;  // the temporary's path, while it exists
};

// Opens the existing file at `path` to write and, where the user may, to
// read, shared with everyone, as the check does; none with the error set.
file_handle open_to_write(const std::wstring& path, bool& readable);

// Whether `file` is the one that `path` reaches.
bool names_file(const std::wstring& path, const file_handle& file);

// The directory part of a full path, with its last separator.
std::wstring directory_of(const std::wstring& path);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_
