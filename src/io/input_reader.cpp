#include "io/input_reader.h"

#include <cerrno>

#include "io/file_handle.h"
#include "io/stream_io.h"

namespace upgrade_info {

input_reader::input_reader(std::FILE* stream, std::span<unsigned char> piece,
                           bool owns)
    : stream_(unbuffered(stream)),
      owns_(owns),
      reported_(stream_remaining(stream)),
      start_(reported_ >= 0 ? stream_tell(stream) : -1),
      piece_(piece) {
  // A writer into a pipe takes fewer turns when the pipe holds more.
  enlarge_pipe(stream, 1 << 20);
  read_piece();
  if (status_ == io_status::ok && filled_ == 0 && reported_ <= 0) {
    status_ = io_status::empty;
  }
}

std::optional<input_reader> input_reader::open(const char* name,
                                               input_form form,
                                               std::span<unsigned char> piece) {
  std::FILE* stream = stream_open_by_name(name, form);
  if (stream == nullptr) {
    return std::nullopt;
  }
  // Standard input's file may be the caller's for longer than this run.
  if (stream != stdin) {
    hold_for_reading(handle_of(stream));
  }
  return std::optional<input_reader>(std::in_place, stream, piece, true);
}

void input_reader::close() {
  if (owns_) {
    // Let go first, in case the file is not let go of with its closing.
    if (stream_ != stdin) {
      let_go_after_reading(handle_of(stream_));
    }
    stream_release(stream_);
    owns_ = false;
  }
}

void input_reader::read_piece() {
  errno = 0;
  filled_ = std::fread(piece_.data(), 1, piece_.size(), stream_);
  if (std::ferror(stream_) != 0) {
    error_ = errno;
    status_ = io_status::read_failed;
    filled_ = 0;
  }
  pending_ = true;
}

std::span<unsigned char> input_reader::next() {
  if (status_ != io_status::ok) {
    return {};
  }
  if (!pending_) {
    read_piece();
  }
  pending_ = false;
  return piece_.first(filled_);
}

bool input_reader::restart() {
  if (!can_restart() || status_ != io_status::ok ||
      !stream_seek(stream_, static_cast<std::uint64_t>(start_))) {
    return false;
  }
  std::clearerr(stream_);
  read_piece();
  return status_ == io_status::ok;
}

}  // namespace upgrade_info
