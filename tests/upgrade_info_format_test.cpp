#include "upgrade_info_format.h"

#include <gtest/gtest.h>

#include <string>

namespace upgrade_info {
namespace {

std::span<const unsigned char> bytes_of(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string text_of(std::span<const unsigned char> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(upgrade_info_format, checksum_line_has_no_sign_padding_or_leading_zero) {
  EXPECT_EQ(checksum_line(0), "CRC:0\n");
  EXPECT_EQ(checksum_line(7), "CRC:7\n");
  EXPECT_EQ(checksum_line(4294967295u), "CRC:4294967295\n");
}

TEST(upgrade_info_format, checksum_covers_magic_line_then_content) {
  EXPECT_EQ(upgrade_info_checksum({}), 3497001744u);
  EXPECT_EQ(upgrade_info_checksum(bytes_of("abc")), 1378533533u);
  EXPECT_EQ(upgrade_info_checksum(bytes_of("hello\n")), 2499468743u);
}

TEST(upgrade_info_format, content_stops_at_the_first_zero_byte) {
  using namespace std::string_literals;
  EXPECT_EQ(text_of(content_of(bytes_of("plain text\n"))), "plain text\n");
  EXPECT_EQ(text_of(content_of(bytes_of("ab\0cd\0"s))), "ab");
  EXPECT_EQ(text_of(content_of(bytes_of("\0abc"s))), "");
  EXPECT_EQ(text_of(content_of({})), "");
}

}  // namespace
}  // namespace upgrade_info
