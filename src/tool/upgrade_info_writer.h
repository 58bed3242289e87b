#ifndef UPGRADE_INFO_TOOL_UPGRADE_INFO_WRITER_H_
#define UPGRADE_INFO_TOOL_UPGRADE_INFO_WRITER_H_

// Writing the upgrade-info file of an input's content as it is read, a
// piece at a time: the content's checksum is known only at its end, but
// the checksum line comes first.

#include <cstdio>
#include <span>

#include "io/file_handle.h"
#include "io/input_reader.h"
#include "io/io_status.h"
#include "io/page_memory.h"

namespace upgrade_info {

// The memory the writer has the input read into: each piece starts on a
// page, as the file's own pieces do, with the page before it free, so that
// the writer can put the bytes it kept of the piece before in front of it
// and write both in one call, from a page of the file.
class writer_memory {
 public:
  writer_memory();
  // Whether it could be had.
  explicit operator bool() const { return memory_ != nullptr; }
  // Where the input is read into, input_reader::PIECE bytes.
  std::span<unsigned char> piece() const;

 private:
  page_memory memory_;
};

// Writes into `file`, a new, empty file of its own open to read and write,
// in one pass: the content goes first, after room for the longest checksum
// line and the magic line, while its checksum is taken; then those lines go
// before it, and where the checksum line is shorter than the longest, the
// content is moved up to meet them. `input` reads into `memory`.
io_status write_upgrade_info_file(input_reader& input,
                                  const writer_memory& memory,
                                  file_handle& file);

// Writes to `output`, which takes bytes only in order (standard output, a
// device, a FIFO), reading the content twice: for its checksum, then as it
// is written, when it must give the same bytes again. An input that can be
// read only once is kept in a spill file in between.
io_status write_upgrade_info_in_order(input_reader& input, std::FILE* output);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_TOOL_UPGRADE_INFO_WRITER_H_
