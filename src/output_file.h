#ifndef UPGRADE_INFO_OUTPUT_FILE_H_
#define UPGRADE_INFO_OUTPUT_FILE_H_

#include <cstdio>

#include "file_replacement.h"

namespace upgrade_info {

// The output of one run, committed whole or not at all. A named output that
// is a regular file, or does not exist yet, is written to a temporary file
// beside it, which replaces it only on commit; until then, and after any
// failure, the destination is exactly as it was. One that no temporary can
// replace (its directory takes no new file, or a rename cannot reach it) is
// written in place, but only once the new contents are complete elsewhere
// and room for them is reserved. Standard output ("-"), devices, FIFOs and
// open descriptors (/dev/stdout) are written where they stand.
class output_file {
 public:
  // Opens the output that `name` stands for, as opening it to write would,
  // but changes nothing yet. When it may not be written, prints "Failed
  // opening '<name>' to write." and ends the process.
  explicit output_file(const char* name);
  ~output_file();  // discards the output unless it was committed
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  // Where the output is written; nullptr when no room could be had for it.
  std::FILE* stream() const { return stream_; }
  // Whether the stream takes bytes only in order; else it is a new file of
  // its own, open to read and write, which may be written in any order.
  bool takes_bytes_in_order() const { return placement_ == placement::direct; }

  // Puts the output in its place. Returns false when any of it failed; the
  // output is then discarded.
  bool commit();

 private:
  enum class placement {
    direct,       // written where it stands
    replacement,  // a temporary file, to replace the destination
    in_place,     // a spill file, to be written over the destination
  };

  placement placement_ = placement::direct;
  std::FILE* stream_ = nullptr;
  file_replacement::destination_ptr destination_;
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_OUTPUT_FILE_H_
