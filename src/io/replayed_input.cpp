#include "io/replayed_input.h"

#include <algorithm>
#include <cerrno>

#include "io/spill.h"

namespace upgrade_info {

replayed_input::replayed_input(input_reader& input, source preferred)
    : input_(input) {
  if (preferred == source::file_again && input.can_restart()) {
    return;
  }
  spill_ = create_spill();
  piece_ = allocate_pages(input_reader::PIECE);
  if (!spill_ || piece_ == nullptr) {
    fail(io_status::too_large);
  }
}

void replayed_input::fail(io_status status) {
  if (status_ == io_status::ok) {
    status_ = status;
    error_ = errno;
  }
}

void replayed_input::keep(std::span<const unsigned char> bytes) {
  if (status_ == io_status::ok && spill_ &&
      !spill_.write_at(bytes.data(), bytes.size(), kept_)) {
    fail(io_status::too_large);
  }
  kept_ += bytes.size();
}

void replayed_input::start_again() {
  given_ = 0;
  if (status_ == io_status::ok && !spill_ && !input_.restart()) {
    fail(io_status::read_failed);
  }
}

std::span<const unsigned char> replayed_input::next() {
  if (status_ != io_status::ok || given_ == kept_) {
    return {};
  }
  const std::uint64_t left = kept_ - given_;
  std::span<const unsigned char> piece;
  if (spill_) {
    const auto size = static_cast<std::size_t>(
        std::min<std::uint64_t>(left, input_reader::PIECE));
    if (spill_.read_all_at(piece_.get(), size, given_)) {
      piece = {piece_.get(), size};
    }
  } else {
    piece = input_.next();
    piece = piece.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), left)));
  }
  if (piece.empty()) {
    fail(io_status::read_failed);
  }
  given_ += piece.size();
  return piece;
}

}  // namespace upgrade_info
