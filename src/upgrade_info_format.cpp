#include "upgrade_info_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "crc32.h"

namespace upgrade_info {

namespace {

const unsigned char* bytes_of(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

bool write_block(std::FILE* output, const void* data, std::size_t size) {
  return size == 0 || std::fwrite(data, 1, size, output) == size;
}

}  // namespace

std::span<const unsigned char> content_of(
    std::span<const unsigned char> input) {
  if (input.empty()) {
    return input;  // memchr must not be given the null pointer of no bytes
  }
  const auto* zero = static_cast<const unsigned char*>(
      std::memchr(input.data(), 0, input.size()));
  return zero == nullptr ? input : input.first(zero - input.data());
}

std::uint32_t upgrade_info_checksum(std::span<const unsigned char> content) {
  std::uint32_t checksum =
      crc32_accumulate(0, bytes_of(MAGIC_LINE), MAGIC_LINE.size());
  // crc32_accumulate counts in 32 bits; longer contents go in pieces.
  constexpr std::size_t MAX_PIECE = std::numeric_limits<std::uint32_t>::max();
  while (!content.empty()) {
    const std::size_t piece = std::min(content.size(), MAX_PIECE);
    checksum = crc32_accumulate(checksum, content.data(),
                                static_cast<std::uint32_t>(piece));
    content = content.subspan(piece);
  }
  return checksum;
}

std::string checksum_line(std::uint32_t checksum) {
  return "CRC:" + std::to_string(checksum) + "\n";
}

bool write_upgrade_info(std::FILE* output, std::uint32_t checksum,
                        std::span<const unsigned char> content) {
  const std::string line = checksum_line(checksum);
  return write_block(output, line.data(), line.size()) &&
         write_block(output, MAGIC_LINE.data(), MAGIC_LINE.size()) &&
         write_block(output, content.data(), content.size());
}

}  // namespace upgrade_info
