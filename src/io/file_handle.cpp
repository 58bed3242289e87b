#include "io/file_handle.h"

#include <algorithm>

#include "io/page_memory.h"

namespace upgrade_info {

bool file_handle::read_all_at(void* bytes, std::size_t size,
                              std::uint64_t at) const {
  auto* next = static_cast<unsigned char*>(bytes);
  while (size > 0) {
    const std::optional<std::size_t> got = read_at(next, size, at);
    if (!got || *got == 0) {
      return false;
    }
    next += *got;
    size -= *got;
    at += *got;
  }
  return true;
}

bool copy_contents(const file_handle& from, file_handle& to,
                   std::uint64_t length) {
  constexpr std::size_t PIECE = std::size_t{1} << 20;
  const page_memory piece = allocate_pages(PIECE);
  std::uint64_t at = 0;
  bool copied = piece != nullptr;
  while (copied && at < length) {
    const std::optional<std::size_t> got = from.read_at(
        piece.get(),
        static_cast<std::size_t>(std::min<std::uint64_t>(length - at, PIECE)),
        at);
    copied = got && *got > 0;
    if (copied) {
      at += *got;
      copied = to.write_at(piece.get(), *got, at - *got);
    }
  }
  return copied;
}

}  // namespace upgrade_info
