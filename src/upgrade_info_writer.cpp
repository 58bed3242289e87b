#include "upgrade_info_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "file_replacement.h"
#include "stream_io.h"
#include "upgrade_info_format.h"

namespace upgrade_info {

namespace {

constexpr std::uint64_t LONGEST_HEAD =
    LONGEST_CHECKSUM_LINE + MAGIC_LINE.size();

// Reads the content, to the input's first zero byte or its end, into
// `checksum`, and into `copy` when there is one.
io_status take_content(input_reader& input, content_checksum& checksum,
                       std::FILE* copy) {
  for (;;) {
    const std::span<const unsigned char> piece = input.next();
    const std::span<const unsigned char> content = content_of(piece);
    checksum.add(content);
    if (copy != nullptr && !write_all(copy, content.data(), content.size())) {
      return io_status::write_failed;
    }
    if (piece.empty() || content.size() < piece.size()) {
      return input.status();
    }
  }
}

// Puts `head`, shorter than the room left for it, before the `length`
// bytes of content that follow that room, moving the content up to meet
// it, a block at a time from the front, each read from further on, then
// written where it starts.
bool close_up(std::FILE* file, const std::string& head, std::uint64_t length) {
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
    if (!stream_seek(file, at + filled + gap) ||
        std::fread(block.get() + filled, 1, end - filled, file) !=
            end - filled ||
        !stream_seek(file, at) || !write_all(file, block.get(), end)) {
      return false;
    }
    filled = 0;
  }
  return stream_resize(file, size);
}

}  // namespace

io_status write_upgrade_info_file(input_reader& input, std::FILE* file) {
  unbuffered(file);
  content_checksum checksum;
  // Room for the head goes first, and the last bytes of each piece are
  // kept to go before the next, so that every write but the last starts
  // on a page of the file: one that starts inside a page, as after a head
  // of 64 bytes, measured a quarter slower.
  std::array<unsigned char, LONGEST_HEAD> kept{};
  static_assert(kept.size() <= input_reader::HEADROOM);
  for (;;) {
    const std::span<unsigned char> piece = input.next();
    const std::span<unsigned char> content =
        piece.first(content_of(piece).size());
    checksum.add(content);
    if (content.size() < input_reader::PIECE) {
      if (!write_all(file, kept.data(), kept.size()) ||
          !write_all(file, content.data(), content.size())) {
        return io_status::write_failed;
      }
      break;
    }
    unsigned char* const start = content.data() - kept.size();
    std::copy(kept.begin(), kept.end(), start);
    std::copy(content.end() - kept.size(), content.end(), kept.begin());
    if (!write_all(file, start, content.size())) {
      return io_status::write_failed;
    }
  }
  if (input.status() != io_status::ok) {
    return input.status();
  }
  const std::string head = upgrade_info_head(checksum.value());
  const bool written =
      head.size() == LONGEST_HEAD
          ? stream_seek(file, 0) && write_all(file, head.data(), head.size())
          : close_up(file, head, checksum.length());
  return written ? io_status::ok : io_status::write_failed;
}

io_status write_upgrade_info_in_order(input_reader& input, std::FILE* output) {
  content_checksum first;
  input_reader* source = &input;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> spill(nullptr, std::fclose);
  std::optional<input_reader> spilled;
  if (input.can_restart()) {
    if (const io_status status = take_content(input, first, nullptr);
        status != io_status::ok) {
      return status;
    }
    if (!input.restart()) {
      return io_status::read_failed;
    }
  } else {
    spill.reset(file_replacement::create_spill());
    if (spill == nullptr) {
      return io_status::too_large;
    }
    unbuffered(spill.get());
    const io_status status = take_content(input, first, spill.get());
    if (status != io_status::ok) {
      return status == io_status::write_failed ? io_status::too_large : status;
    }
    if (std::fflush(spill.get()) != 0 || !stream_seek(spill.get(), 0)) {
      return io_status::too_large;
    }
    source = &spilled.emplace(spill.get());
    if (spilled->status() == io_status::too_large) {
      return io_status::too_large;
    }
  }
  const std::string head = upgrade_info_head(first.value());
  if (!write_all(output, head.data(), head.size())) {
    return io_status::write_failed;
  }
  // Exactly the content's length again, which must give the same checksum.
  content_checksum second;
  while (second.length() < first.length()) {
    const std::span<const unsigned char> piece = source->next();
    if (piece.empty()) {
      break;
    }
    const std::span<const unsigned char> part =
        piece.first(std::min<std::uint64_t>(piece.size(),
                                            first.length() - second.length()));
    second.add(part);
    if (!write_all(output, part.data(), part.size())) {
      return io_status::write_failed;
    }
  }
  // A spill of no content reads as empty, which it is.
  const bool same = source->status() != io_status::read_failed &&
                    second.length() == first.length() &&
                    second.value() == first.value();
  return same ? io_status::ok : io_status::read_failed;
}

}  // namespace upgrade_info
