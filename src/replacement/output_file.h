#ifndef UPGRADE_INFO_REPLACEMENT_OUTPUT_FILE_H_
#define UPGRADE_INFO_REPLACEMENT_OUTPUT_FILE_H_

// The output of one run, committed whole or not at all.
//
// A named output is opened as opening it to write would, but nothing
// about it changes until the new contents are complete (destination.h).
// An existing regular file, or a missing one, gets them in a temporary
// file beside it, which replaces it on commit (temporary.h), keeping who
// may reach it (attributes.h). One that no temporary can replace is
// written in place, its old contents saved until the new ones are there
// (in_place.h). Standard output ("-"), devices, FIFOs, the kernel's files
// and files the caller has open to write are written where they stand, in
// order.

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
  // but changes nothing; status() tells how it went. The program opens
  // nothing of its own before, so that a name such as /proc/self/fd/3
  // reaches what the caller meant, or nothing.
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

  // Puts the output in its place: ok, output_refused when the system
  // refused only now to make it at the end of a link, or write_failed;
  // after a failure the destination is as it was, but where kept_copy()
  // says where its old contents are.
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
