#ifndef UPGRADE_INFO_IO_INPUT_READER_H_
#define UPGRADE_INFO_IO_INPUT_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "io/io_status.h"
#include "io/named_stream.h"

namespace upgrade_info {

// An input read from where its stream stands, into memory its caller
// gives, a piece at a time, so that memory never grows with it.
class input_reader {
 public:
  // The size of a piece that callers give: small enough that it stays in
  // the CPU's cache from its reading to its writing (larger ones measured
  // slower to copy, not faster).
  static constexpr std::size_t PIECE = std::size_t{128} << 10;

  // Reads into `piece`, which must outlive the reader, and reads the first
  // piece at once, so that status() tells whether the input is empty or
  // fails before anything else is done. A stream it `owns` is released
  // with it.
  input_reader(std::FILE* stream, std::span<unsigned char> piece,
               bool owns = false);
  input_reader(const input_reader&) = delete;
  input_reader& operator=(const input_reader&) = delete;
  ~input_reader() { close(); }

  // The input a command-line name stands for ("-" is standard input, read
  // from where it stands), in `form`, read into `piece`; nothing, with
  // errno set, when the name cannot be opened.
  static std::optional<input_reader> open(const char* name, input_form form,
                                          std::span<unsigned char> piece);

  // Closes an owned stream before the reader goes: on Windows an open
  // file cannot be replaced.
  void close();

  // The next piece, at the start of the memory given; empty at the end, or
  // once a read failed. It stays valid until the next call.
  std::span<unsigned char> next();

  std::FILE* stream() const { return stream_; }
  io_status status() const { return status_; }
  // The system's error number of a failed read.
  int error() const { return error_; }
  // The first piece, once read and until next() gives it out.
  std::span<const unsigned char> first_piece() const {
    return piece_.first(pending_ ? filled_ : 0);
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
  std::int64_t reported_;  // the bytes it reported to read, or -1
  std::int64_t start_;     // where the stream stood, or -1 for no file
  std::span<unsigned char> piece_;
  std::size_t filled_ = 0;  // of the piece
  bool pending_ = false;    // a piece read but not yet given out
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_INPUT_READER_H_
