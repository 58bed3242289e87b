#ifndef UPGRADE_INFO_INPUT_READER_H_
#define UPGRADE_INFO_INPUT_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "io_status.h"
#include "named_stream.h"
#include "stream_io.h"

namespace upgrade_info {

// An input read from where its stream stands, a piece of fixed size at a
// time, so that memory never grows with it.
class input_reader {
 public:
  // Small enough that a piece stays in the CPU's cache from its reading to
  // its writing: larger ones measured slower to copy, not faster.
  static constexpr std::size_t PIECE = std::size_t{128} << 10;
  // The bytes before each piece that are free for the caller's use, so that
  // it can write a few bytes it kept, then the piece, in one call.
  static constexpr std::size_t HEADROOM = 64;

  // Reads the first piece at once, so that status() tells whether the
  // input is empty or fails before anything else is done. A stream it
  // `owns` is released with it.
  explicit input_reader(std::FILE* stream, bool owns = false);
  input_reader(const input_reader&) = delete;
  input_reader& operator=(const input_reader&) = delete;
  ~input_reader() { release(); }

  // The input a command-line name stands for ("-" is standard input, read
  // from where it stands), in `form`; nothing, with errno set, when the
  // name cannot be opened.
  static std::optional<input_reader> open(const char* name, input_form form);

  // Lets go of an owned stream before the reader goes: on Windows an open
  // file cannot be replaced.
  void release();

  // The next piece, with HEADROOM bytes free before it; empty at the end,
  // or once a read failed. It stays valid until the next call.
  std::span<unsigned char> next();

  std::FILE* stream() const { return stream_; }
  io_status status() const { return status_; }
  // The system's error number of a failed read.
  int error() const { return error_; }
  // The first piece, once read and until next() gives it out.
  std::span<const unsigned char> first_piece() const {
    return {buffer_.get() + PAGE, pending_ ? filled_ : 0};
  }

  // Whether the input can be read again from where it started: a file.
  bool can_restart() const { return start_ >= 0; }
  // Starts reading again from there, with the first piece read at once.
  bool restart();

 private:
  void read_piece();

  std::FILE* stream_;
  bool owns_;
  io_status status_ = io_status::ok;
  int error_ = 0;
  std::int64_t reported_;   // the bytes it reported to read, or -1
  std::int64_t start_;      // where the stream stood, or -1 for no file
  page_memory buffer_;      // a page, HEADROOM of it in use, then a piece
  std::size_t filled_ = 0;  // of the piece in the buffer
  bool pending_ = false;    // a piece read but not yet given out
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_INPUT_READER_H_
