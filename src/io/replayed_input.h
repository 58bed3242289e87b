#ifndef UPGRADE_INFO_IO_REPLAYED_INPUT_H_
#define UPGRADE_INFO_IO_REPLAYED_INPUT_H_

// An input's bytes, given a second time. A writer that takes bytes only in
// order must put the checksum line first, but the checksum is known only
// at the content's end; the checker writes a content only once all of it
// is known to verify. Either reads what it needs once, keeping it here,
// then takes it again.

#include <cstdint>
#include <span>

#include "io/file_handle.h"
#include "io/input_reader.h"
#include "io/io_status.h"
#include "io/page_memory.h"

namespace upgrade_info {

class replayed_input {
 public:
  enum class source {
    file_again,  // the file read again where it can be, else a spill
    spill,       // always a spill file, which changes to the input
                 // cannot reach (on Windows it is a named file in the
                 // user's temporary directory, which the user's own
                 // programs may also open to write)
  };
  replayed_input(input_reader& input, source preferred);

  // ok, too_large when the bytes cannot be kept, read_failed
  // when they cannot be read again whole.
  io_status status() const { return status_; }
  // The system's error number of what made it fail.
  int error() const { return error_; }

  // Keeps the next bytes the first reading gave.
  void keep(std::span<const unsigned char> bytes);
  // Starts giving them again, from the first.
  void start_again();
  // The next of them, empty after the last or once status() is not ok; a
  // file read again that gives fewer bytes than before is read_failed.
  std::span<const unsigned char> next();

 private:
  input_reader& input_;
  file_handle spill_;  // none when the file is read again
  void fail(io_status status);

  io_status status_ = io_status::ok;
  int error_ = 0;
  std::uint64_t kept_ = 0;   // bytes kept
  std::uint64_t given_ = 0;  // bytes given again
  page_memory piece_;        // of the spill
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_REPLAYED_INPUT_H_
