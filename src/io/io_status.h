#ifndef UPGRADE_INFO_IO_IO_STATUS_H_
#define UPGRADE_INFO_IO_IO_STATUS_H_

namespace upgrade_info {

// How a run's reading and writing went: the tool's whole result.
enum class io_status {
  ok,
  input_refused,   // the input cannot be opened
  empty,           // the input reported no bytes to read (or no size at
                   // all) and reading it gave none
  utf16_text,      // the input is UTF-16 text, not a text the tool wraps
  too_large,       // no room to hold what must be held of the input: the
                   // memory for a piece, or a spill file
  read_failed,     // reading the input failed, or it changed between two
                   // readings
  output_refused,  // the output may not be written, or cannot be opened
  write_failed,    // a write, or putting the output in its place, failed
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_IO_STATUS_H_
