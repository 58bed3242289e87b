#include "format/upgrade_info_format.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace upgrade_info {
namespace {

std::span<const unsigned char> bytes_of(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string text_of(std::span<const unsigned char> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::uint32_t checksum_of(std::string_view content) {
  content_checksum checksum;
  checksum.add(bytes_of(content));
  return checksum.value();
}

TEST(upgrade_info_format, checksum_covers_magic_line_then_content) {
  EXPECT_EQ(checksum_of("abc"), 1378533533u);
  EXPECT_EQ(checksum_of("hello\n"), 2499468743u);
}

#if defined(__linux__) && SIZE_MAX > UINT32_MAX
// A read-only view of `copies` copies of `block`, side by side, that costs
// the memory of one block however long it is.
std::span<const unsigned char> repeated(std::string_view block,
                                        std::size_t copies) {
  const int file = memfd_create("block", 0);
  if (file < 0 || write(file, block.data(), block.size()) !=
                      static_cast<ssize_t>(block.size())) {
    throw std::runtime_error("cannot make the block");
  }
  const std::size_t size = block.size() * copies;
  auto* view = static_cast<unsigned char*>(
      mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  for (std::size_t copy = 0; view != MAP_FAILED && copy < copies; ++copy) {
    if (mmap(view + copy * block.size(), block.size(), PROT_READ,
             MAP_SHARED | MAP_FIXED | MAP_POPULATE, file, 0) == MAP_FAILED) {
      view = static_cast<unsigned char*>(MAP_FAILED);
    }
  }
  close(file);
  if (view == MAP_FAILED) {
    throw std::runtime_error("cannot map the copies");
  }
  return {view, size};
}

// crc32_accumulate counts in 32 bits, so a content past 4 GiB must be
// checksummed in pieces that chain: a length cut to 32 bits would leave out
// all but the last megabyte here.
TEST(upgrade_info_format, checksum_covers_content_past_four_gigabytes) {
  std::string block(1 << 20, '\0');
  for (std::size_t k = 0; k < block.size(); ++k) {
    block[k] = static_cast<char>('a' + k % 26);
  }
  const std::span<const unsigned char> content = repeated(block, 4097);
  content_checksum checksum;
  checksum.add(content);
  // The same 4 GiB + 1 MiB checksummed by Python's zlib.crc32.
  EXPECT_EQ(checksum.value(), 4017942936u);
  munmap(const_cast<unsigned char*>(content.data()), content.size());
}
#endif

TEST(upgrade_info_format, content_stops_at_the_first_zero_byte) {
  using namespace std::string_literals;
  EXPECT_EQ(text_of(content_of(bytes_of("plain text\n"))), "plain text\n");
  EXPECT_EQ(text_of(content_of(bytes_of("ab\0cd\0"s))), "ab");
  EXPECT_EQ(text_of(content_of(bytes_of("\0abc"s))), "");
  EXPECT_EQ(text_of(content_of({})), "");
}

std::string wrap(std::string_view content) {
  return upgrade_info_head(checksum_of(content)) + std::string(content);
}

// The verdict on `file` and the content the parser found in it, given the
// bytes in pieces of `piece` bytes.
std::pair<verdict, std::string> parse(const std::string& file,
                                      std::size_t piece) {
  upgrade_info_parser parser;
  std::string content;
  for (std::size_t at = 0; at < file.size() && !parser.decided(); at += piece) {
    content += text_of(
        parser.take(bytes_of(std::string_view(file).substr(at, piece))));
  }
  return {parser.finish(), content};
}

TEST(upgrade_info_format, parse_accepts_what_is_written_and_finds_content) {
  for (const std::string_view content : {"", "a", "line\r\nmore\n"}) {
    const std::string file = wrap(content);
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{7}, file.size()}) {
      const auto [result, found] = parse(file, piece);
      ASSERT_EQ(result, verdict::verified) << file;
      EXPECT_EQ(found, content);
    }
  }
}

TEST(upgrade_info_format, parse_rejects_every_departure_from_the_format) {
  using namespace std::string_literals;
  const std::string good = wrap("text");
  const std::string magic(MAGIC_LINE);
  std::string flipped = good;
  flipped.back() ^= 1;
  const struct {
    std::string file;
    verdict expected;
  } cases[] = {
      {"", verdict::bad_checksum_line},
      {"CRC:", verdict::bad_checksum_line},
      {"CRC:\n" + magic, verdict::bad_checksum_line},
      {"crc:1\n" + magic, verdict::bad_checksum_line},
      {"CRC:+1\n" + magic, verdict::bad_checksum_line},
      {"CRC:01\n" + magic, verdict::bad_checksum_line},
      {"CRC:4294967296\n" + magic, verdict::bad_checksum_line},
      {"CRC:12345678901\n" + magic, verdict::bad_checksum_line},
      {"CRC:1\r\n" + magic, verdict::bad_checksum_line},
      {"CRC:1 \n" + magic, verdict::bad_checksum_line},
      {"CRC:3497001744\n", verdict::no_magic_line},
      {"CRC:3497001744\n" + magic.substr(0, 48), verdict::no_magic_line},
      {"CRC:3497001744\n" + magic, verdict::verified},
      {"CRC:0\n" + magic, verdict::checksum_mismatch},
      {"CRC:4294967295\n" + magic, verdict::checksum_mismatch},
      {flipped, verdict::checksum_mismatch},
      {good.substr(0, good.size() - 1), verdict::checksum_mismatch},
      {wrap("a\0b"s), verdict::zero_in_content},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
      EXPECT_EQ(parse(c.file, piece).first, c.expected) << c.file;
    }
  }
}

TEST(upgrade_info_format, parse_decides_a_bad_checksum_line_from_its_start) {
  upgrade_info_parser parser;
  parser.take(bytes_of("CRC:123456789012"));
  EXPECT_TRUE(parser.decided());
  EXPECT_EQ(parser.finish(), verdict::bad_checksum_line);
}

}  // namespace
}  // namespace upgrade_info
