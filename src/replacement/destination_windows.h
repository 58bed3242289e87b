#ifndef UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_
#define UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_

// The destination as Windows holds it, shared by the files that check it
// and that put the temporary in its place. No handle on it is held from
// the check to the commit: a file with a handle open cannot be replaced,
// by another run either.

#include <string>

#include "io/file_handle.h"
#include "replacement/destination.h"

namespace upgrade_info {

struct destination {
  // The name as the wide functions take it; for an existing file, its own
  // full path, spelled as the file system has it (its links followed, case
  // and long names), so that a replacement keeps the name as it was.
  std::wstring path;
  bool exists = false;     // else a new file is to be made
  bool stream = false;     // an alternate data stream (info.txt:meta)
  file_identity identity;  // of the existing file, as checked
  file_handle file;        // opened to write it in place, once it is
  bool readable = false;   // and whether that handle may read it
  std::wstring temporary;  // the temporary's path, while it exists
};

// Looks at what `path` reaches, asking for no access to its contents, so
// that no program that holds it open keeps anyone from looking; none with
// the error set.
file_handle look_at(const std::wstring& path);

// Whether `file`, looked at, is a file of a disk, to be replaced, rather
// than a device, a volume or a directory.
bool is_disk_file(const file_handle& file);

// The directory part of a full path, with its last separator.
std::wstring directory_of(const std::wstring& path);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_DESTINATION_WINDOWS_H_
