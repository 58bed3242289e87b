#include "upgrade_info_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "crc32.h"

namespace upgrade_info {

namespace {

constexpr std::string_view CHECKSUM_PREFIX = "CRC:";

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
  return std::string(CHECKSUM_PREFIX) + std::to_string(checksum) + "\n";
}

namespace {

// The checksum line at the start of `file`: its value and its length, or a
// length of 0 when there is none.
std::pair<std::uint32_t, std::size_t> checksum_line_of(
    std::span<const unsigned char> file) {
  constexpr std::size_t MOST_DIGITS = 10;
  if (file.size() < CHECKSUM_PREFIX.size() ||
      !std::equal(CHECKSUM_PREFIX.begin(), CHECKSUM_PREFIX.end(),
                  file.begin())) {
    return {0, 0};
  }
  std::uint64_t value = 0;
  std::size_t at = CHECKSUM_PREFIX.size();
  for (; at < file.size() && file[at] >= '0' && file[at] <= '9'; ++at) {
    if (at - CHECKSUM_PREFIX.size() == MOST_DIGITS) {
      return {0, 0};
    }
    value = value * 10 + (file[at] - '0');
  }
  const std::size_t digits = at - CHECKSUM_PREFIX.size();
  const bool leading_zero = digits > 1 && file[CHECKSUM_PREFIX.size()] == '0';
  if (digits == 0 || leading_zero || value > UINT32_MAX || at == file.size() ||
      file[at] != '\n') {
    return {0, 0};
  }
  return {static_cast<std::uint32_t>(value), at + 1};
}

}  // namespace

parsed_upgrade_info parse_upgrade_info(std::span<const unsigned char> file) {
  parsed_upgrade_info parsed;
  const auto [checksum, line_length] = checksum_line_of(file);
  if (line_length == 0) {
    parsed.result = verdict::bad_checksum_line;
    return parsed;
  }
  parsed.checksum = checksum;
  const std::span<const unsigned char> rest = file.subspan(line_length);
  if (rest.size() < MAGIC_LINE.size() ||
      !std::equal(MAGIC_LINE.begin(), MAGIC_LINE.end(), rest.begin())) {
    parsed.result = verdict::no_magic_line;
    return parsed;
  }
  const std::span<const unsigned char> content =
      rest.subspan(MAGIC_LINE.size());
  if (upgrade_info_checksum(content) != checksum) {
    parsed.result = verdict::checksum_mismatch;
  } else if (content_of(content).size() != content.size()) {
    parsed.result = verdict::zero_in_content;
  } else {
    parsed.result = verdict::verified;
    parsed.content = content;
  }
  return parsed;
}

std::string_view verdict_reason(verdict result) {
  switch (result) {
    case verdict::bad_checksum_line:
      return "bad checksum line";
    case verdict::no_magic_line:
      return "no magic line";
    case verdict::checksum_mismatch:
      return "checksum mismatch";
    case verdict::zero_in_content:
      return "zero byte in content";
    case verdict::verified:
      break;
  }
  return "verified";
}

bool write_upgrade_info(std::FILE* output, std::uint32_t checksum,
                        std::span<const unsigned char> content) {
  const std::string line = checksum_line(checksum);
  return write_block(output, line.data(), line.size()) &&
         write_block(output, MAGIC_LINE.data(), MAGIC_LINE.size()) &&
         write_block(output, content.data(), content.size());
}

}  // namespace upgrade_info
