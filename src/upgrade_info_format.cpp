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

void content_checksum::add(std::span<const unsigned char> piece) {
  length_ += piece.size();
  // crc32_accumulate counts in 32 bits; longer pieces go in parts.
  constexpr std::size_t LONGEST_PART =
      std::numeric_limits<std::uint32_t>::max();
  while (!piece.empty()) {
    const std::size_t part = std::min(piece.size(), LONGEST_PART);
    value_ = crc32_accumulate(value_, piece.data(),
                              static_cast<std::uint32_t>(part));
    piece = piece.subspan(part);
  }
}

std::string upgrade_info_head(std::uint32_t checksum) {
  return std::string(CHECKSUM_PREFIX) + std::to_string(checksum) + "\n" +
         std::string(MAGIC_LINE);
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

std::span<const unsigned char> upgrade_info_parser::take(
    std::span<const unsigned char> bytes) {
  while (!decided_ && stage_ == stage::checksum_line && !bytes.empty()) {
    head_ += static_cast<char>(bytes.front());
    bytes = bytes.subspan(1);
    if (head_.back() == '\n') {
      const auto [value, length] = checksum_line_of(
          {reinterpret_cast<const unsigned char*>(head_.data()), head_.size()});
      decided_ = length != head_.size();
      expected_ = value;
      head_.clear();
      stage_ = stage::magic_line;
    } else {
      decided_ = head_.size() == LONGEST_CHECKSUM_LINE;
    }
  }
  if (!decided_ && stage_ == stage::magic_line) {
    const std::size_t part =
        std::min(bytes.size(), MAGIC_LINE.size() - head_.size());
    head_.append(reinterpret_cast<const char*>(bytes.data()), part);
    bytes = bytes.subspan(part);
    if (head_.size() == MAGIC_LINE.size()) {
      verdict_ = verdict::no_magic_line;
      decided_ = head_ != MAGIC_LINE;
      stage_ = stage::content;
    }
  }
  if (decided_ || stage_ != stage::content) {
    return {};
  }
  checksum_.add(bytes);
  zero_seen_ = zero_seen_ || content_of(bytes).size() != bytes.size();
  return bytes;
}

verdict upgrade_info_parser::finish() const {
  if (decided_) {
    return verdict_;
  }
  switch (stage_) {
    case stage::checksum_line:
      return verdict::bad_checksum_line;
    case stage::magic_line:
      return verdict::no_magic_line;
    case stage::content:
      break;
  }
  if (checksum_.value() != expected_) {
    return verdict::checksum_mismatch;
  }
  return zero_seen_ ? verdict::zero_in_content : verdict::verified;
}

}  // namespace upgrade_info
