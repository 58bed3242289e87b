#include "checksum/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace upgrade_info {
namespace {

std::uint32_t crc_of(std::string_view text, std::uint32_t crc = 0) {
  // g++ calls a cast of text.size() itself useless where std::size_t is
  // 32 bits wide; a cast of a variable copies it, and is not.
  const std::size_t length = text.size();
  return crc32_accumulate(crc,
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<std::uint32_t>(length));
}

TEST(crc32, known_answers) {
  EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc_of("abc"), 0x352441C2u);
  EXPECT_EQ(crc_of("MagicString:c016dcd6-cdeb-45df-9fd0-e821bf0e1e62\n"),
            3497001744u);
  EXPECT_EQ(crc_of(""), 0u);
}

TEST(crc32, chaining_at_every_split_point_matches_one_call) {
  std::mt19937 random(20261209);
  constexpr std::uint32_t SIZE = 1500;
  std::vector<unsigned char> bytes(SIZE);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(random());
  }
  const std::uint32_t whole = crc32_accumulate(0, bytes.data(), SIZE);
  for (std::uint32_t split = 0; split <= SIZE; ++split) {
    const std::uint32_t head = crc32_accumulate(0, bytes.data(), split);
    ASSERT_EQ(crc32_accumulate(head, bytes.data() + split, SIZE - split), whole)
        << "split at " << split;
  }
}

}  // namespace
}  // namespace upgrade_info
