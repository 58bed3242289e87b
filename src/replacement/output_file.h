#ifndef UPGRADE_INFO_REPLACEMENT_OUTPUT_FILE_H_
#define UPGRADE_INFO_REPLACEMENT_OUTPUT_FILE_H_

// The output of one run, committed whole or not at all.
//
// The one decision of how an output is written comes from what its name
// reaches, opened but not changed until the new contents are complete
// (destination.h): an existing regular file, or a missing one, gets them
// in a temporary file beside it, which replaces it on commit
// (temporary.h), with the access of the file it replaces (attributes.h).
// Only where the system refuses that (a directory that takes no new file,
// a rename refused, access that cannot be given) is it written in place,
// its old contents saved until the new ones are there (in_place.h); any
// other error is a failure. Standard output ("-"), devices, FIFOs, the
// kernel's files and the caller's descriptors a name spells are written
// where they stand, in order.

#include <cstdio>
#include <optional>
#include <string>

#include "io/file_handle.h"
#include "io/io_status.h"
#include "replacement/destination.h"

namespace upgrade_info {

class output_file {
 public:
  // Opens the output that `name` stands for as opening it to write would,
  // but changes nothing; status() tells how it went. A name such as
  // /proc/self/fd/3 reaches the caller's descriptor, or nothing.
  explicit output_file(const char* name);
  ~output_file();  // discards the output unless it was committed
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  // ok, or output_refused when it may not be written.
  io_status status() const { return status_; }

  // Makes ready what the new contents are written to: the temporary file,
  // a spill file for an overwrite in place, or a FIFO opened at last (which
  // waits for its reader). ok; output_refused when the output turns out
  // not to be writable; write_failed when no room could be had for it.
  io_status prepare();

  // Whether it takes bytes only in order, through stream(); else it is a
  // new, empty file of its own, file(), written in any order.
  bool takes_bytes_in_order() const { return placement_ == placement::direct; }
  std::FILE* stream() const { return stream_; }
  file_handle& file() { return file_; }

  // Puts the output in its place: ok, or write_failed; after a failure the
  // destination is as it was, but where kept_copy() says where its old
  // contents are (which, rarely, it also says after a success whose saved
  // copy could not be removed).
  io_status commit();
  const std::optional<std::string>& kept_copy() const { return kept_copy_; }

 private:
  enum class placement {
    direct,       // written where it stands
    replacement,  // a temporary file, to replace the destination
    in_place,     // a spill file, to be written over the destination
  };

  const char* name_;
  opened_destination opened_;
  io_status status_ = io_status::ok;
  placement placement_ = placement::direct;
  std::FILE* stream_ = nullptr;
  file_handle file_;
  std::optional<std::string> kept_copy_;
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_OUTPUT_FILE_H_
