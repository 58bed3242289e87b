#include "format/upgrade_info_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "checksum/crc32.h"

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
  return zero == nullptr
             ? input
             : input.first(static_cast<std::size_t>(zero - input.data()));
}

bool is_utf16_text(std::span<const unsigned char> start) {
  return start.size() >= 2 && ((start[0] == 0xFF && start[1] == 0xFE) ||
                               (start[0] == 0xFE && start[1] == 0xFF));
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
    case verdict::crlf_line_ends:
      return "CR LF line ends";
    case verdict::verified:
      break;
  }
  return "verified";
}

std::span<const unsigned char> upgrade_info_parser::take_checksum_line(
    std::span<const unsigned char> bytes) {
  while (!decided_ && stage_ == stage::checksum_line && !bytes.empty()) {
    head_ += static_cast<char>(bytes.front());
    bytes = bytes.subspan(1);
    if (head_.back() != '\n') {
      // The longest line, and a CR before its line feed.
      decided_ = head_.size() > LONGEST_CHECKSUM_LINE;
      continue;
    }
    crlf_ = head_.ends_with("\r\n");
    if (crlf_) {
      head_.erase(head_.size() - 2, 1);
    }
    const auto [value, length] = checksum_line_of(
        {reinterpret_cast<const unsigned char*>(head_.data()), head_.size()});
    decided_ = length != head_.size();
    expected_ = value;
    head_.clear();
    stage_ = stage::magic_line;
  }
  return bytes;
}

std::span<const unsigned char> upgrade_info_parser::take_magic_line(
    std::span<const unsigned char> bytes) {
  if (!decided_ && stage_ == stage::magic_line) {
    const std::size_t part =
        std::min(bytes.size(), MAGIC_LINE.size() - head_.size());
    head_.append(reinterpret_cast<const char*>(bytes.data()), part);
    bytes = bytes.subspan(part);
    if (head_.size() == MAGIC_LINE.size()) {
      verdict_ = crlf_ ? verdict::bad_checksum_line : verdict::no_magic_line;
      decided_ = head_ != MAGIC_LINE;
      stage_ = stage::content;
    }
  }
  return bytes;
}

std::span<const unsigned char> upgrade_info_parser::with_lf_line_ends(
    std::span<const unsigned char> bytes) {
  lf_bytes_.clear();
  for (const unsigned char byte : bytes) {
    if (held_cr_ && byte != '\n') {
      lf_bytes_ += '\r';
    }
    held_cr_ = byte == '\r';
    if (!held_cr_) {
      lf_bytes_ += static_cast<char>(byte);
    }
  }
  return {reinterpret_cast<const unsigned char*>(lf_bytes_.data()),
          lf_bytes_.size()};
}

std::span<const unsigned char> upgrade_info_parser::take(
    std::span<const unsigned char> bytes) {
  bytes = take_checksum_line(bytes);
  if (crlf_) {
    bytes = with_lf_line_ends(bytes);
  }
  bytes = take_magic_line(bytes);
  if (decided_ || stage_ != stage::content) {
    return {};
  }
  checksum_.add(bytes);
  zero_seen_ = zero_seen_ || content_of(bytes).size() != bytes.size();
  return crlf_ ? std::span<const unsigned char>() : bytes;
}

verdict upgrade_info_parser::finish() const {
  if (decided_) {
    return verdict_;
  }
  switch (stage_) {
    case stage::checksum_line:
      return verdict::bad_checksum_line;
    case stage::magic_line:
      return crlf_ ? verdict::bad_checksum_line : verdict::no_magic_line;
    case stage::content:
      break;
  }
  verdict result = verdict::verified;
  if (computed()->value() != expected_) {
    result = verdict::checksum_mismatch;
  } else if (zero_seen_) {
    result = verdict::zero_in_content;
  }
  if (crlf_) {
    return result == verdict::verified ? verdict::crlf_line_ends
                                       : verdict::bad_checksum_line;
  }
  return result;
}

std::optional<std::uint32_t> upgrade_info_parser::stored() const {
  const bool read = stage_ != stage::checksum_line &&
                    !(decided_ && stage_ == stage::magic_line);
  return read ? std::optional<std::uint32_t>(expected_) : std::nullopt;
}

std::optional<content_checksum> upgrade_info_parser::computed() const {
  if (decided_ || stage_ != stage::content) {
    return std::nullopt;
  }
  content_checksum checksum = checksum_;
  if (held_cr_) {
    checksum.add({reinterpret_cast<const unsigned char*>("\r"), 1});
  }
  return checksum;
}

}  // namespace upgrade_info
