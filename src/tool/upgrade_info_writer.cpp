#include "tool/upgrade_info_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "format/upgrade_info_format.h"
#include "io/page_memory.h"
#include "io/replayed_input.h"
#include "io/stream_io.h"

namespace upgrade_info {

namespace {

constexpr std::uint64_t LONGEST_HEAD =
    LONGEST_CHECKSUM_LINE + MAGIC_LINE.size();

// Puts `head`, shorter than the room left for it, before the `length`
// bytes of content that follow that room, moving the content up to meet
// it, a block at a time from the front, each read from further on, then
// written where it starts.
bool close_up(file_handle& file, const std::string& head,
              std::uint64_t length) {
  const page_memory block = allocate_pages(input_reader::PIECE);
  if (block == nullptr) {
    return false;
  }
  const std::uint64_t gap = LONGEST_HEAD - head.size();
  const std::uint64_t size = head.size() + length;
  std::copy(head.begin(), head.end(), block.get());
  std::size_t filled = head.size();
  for (std::uint64_t at = 0; at < size; at += input_reader::PIECE) {
    const auto end = static_cast<std::size_t>(
        std::min<std::uint64_t>(size - at, input_reader::PIECE));
    if (!file.read_all_at(block.get() + filled, end - filled,
                          at + filled + gap) ||
        !file.write_at(block.get(), end, at)) {
      return false;
    }
    filled = 0;
  }
  return file.resize(size);
}

}  // namespace

writer_memory::writer_memory()
    : memory_(allocate_pages(PAGE + input_reader::PIECE)) {}

std::span<unsigned char> writer_memory::piece() const {
  return {memory_.get() + PAGE, input_reader::PIECE};
}

io_status write_upgrade_info_file(input_reader& input,
                                  const writer_memory& memory,
                                  file_handle& file) {
  content_checksum checksum;
  // Room for the head goes first, and the last bytes of each piece are
  // kept to go in the page before the next, so that every write but the
  // last starts on a page of the file: one that starts inside a page, as
  // after a head of 64 bytes, measured a quarter slower.
  std::array<unsigned char, LONGEST_HEAD> kept{};
  static_assert(kept.size() <= PAGE);
  std::uint64_t at = 0;
  for (;;) {
    const std::span<unsigned char> piece = input.next();
    const std::span<unsigned char> content =
        piece.first(content_of(piece).size());
    checksum.add(content);
    if (content.size() < input_reader::PIECE) {
      if (!file.write_at(kept.data(), kept.size(), at) ||
          !file.write_at(content.data(), content.size(), at + kept.size())) {
        return io_status::write_failed;
      }
      break;
    }
    unsigned char* const start = memory.piece().data() - kept.size();
    std::copy(kept.begin(), kept.end(), start);
    std::copy(content.end() - kept.size(), content.end(), kept.begin());
    if (!file.write_at(start, content.size(), at)) {
      return io_status::write_failed;
    }
    at += content.size();
  }
  if (input.status() != io_status::ok) {
    return input.status();
  }
  const std::string head = upgrade_info_head(checksum.value());
  const bool written = head.size() == LONGEST_HEAD
                           ? file.write_at(head.data(), head.size(), 0)
                           : close_up(file, head, checksum.length());
  return written ? io_status::ok : io_status::write_failed;
}

io_status write_upgrade_info_in_order(input_reader& input, std::FILE* output) {
  replayed_input again(input, replayed_input::source::file_again);
  content_checksum first;
  for (std::span<const unsigned char> piece = input.next();
       again.status() == io_status::ok;) {
    const std::span<const unsigned char> content = content_of(piece);
    first.add(content);
    again.keep(content);
    if (piece.empty() || content.size() < piece.size()) {
      break;
    }
    piece = input.next();
  }
  if (input.status() != io_status::ok) {
    return input.status();
  }
  again.start_again();
  if (again.status() != io_status::ok) {
    return again.status();
  }
  const std::string head = upgrade_info_head(first.value());
  if (!write_all(output, head.data(), head.size())) {
    return io_status::write_failed;
  }
  // Exactly the content's length again, which must give the same checksum.
  content_checksum second;
  for (std::span<const unsigned char> piece = again.next(); !piece.empty();
       piece = again.next()) {
    second.add(piece);
    if (!write_all(output, piece.data(), piece.size())) {
      return io_status::write_failed;
    }
  }
  const bool same = again.status() == io_status::ok &&
                    second.length() == first.length() &&
                    second.value() == first.value();
  return same ? io_status::ok : io_status::read_failed;
}

}  // namespace upgrade_info
