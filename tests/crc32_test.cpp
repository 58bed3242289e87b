#include "crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string_view>
#include <vector>

namespace upgrade_info {
namespace {

std::uint32_t crc_of(std::string_view text, std::uint32_t crc = 0) {
  return crc32_accumulate(crc,
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<std::uint32_t>(text.size()));
}

std::uint32_t zlib_crc(std::uint32_t crc,
                       const std::vector<unsigned char>& bytes) {
  return static_cast<std::uint32_t>(crc32_z(crc, bytes.data(), bytes.size()));
}

TEST(crc32, known_answers) {
  EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc_of("abc"), 0x352441C2u);
  EXPECT_EQ(crc_of("MagicString:c016dcd6-cdeb-45df-9fd0-e821bf0e1e62\n"),
            3497001744u);
  EXPECT_EQ(crc_of(""), 0u);
}

TEST(crc32, no_bytes_leave_any_checksum_unchanged) {
  for (std::uint32_t crc : {0u, 1u, 0xCBF43926u, 0xFFFFFFFFu}) {
    EXPECT_EQ(crc32_accumulate(crc, nullptr, 0), crc);
  }
}

TEST(crc32, bytes_above_0x7f_count_as_unsigned) {
  for (unsigned value = 0; value < 256; ++value) {
    const std::vector<unsigned char> byte{static_cast<unsigned char>(value)};
    EXPECT_EQ(crc32_accumulate(0, byte.data(), 1), zlib_crc(0, byte)) << value;
  }
  std::vector<unsigned char> high;
  for (unsigned value = 0x80; value < 0x100; ++value) {
    high.push_back(static_cast<unsigned char>(value));
  }
  EXPECT_EQ(crc32_accumulate(0, high.data(), 128), zlib_crc(0, high));
}

TEST(crc32, chaining_at_every_split_point_matches_one_call) {
  std::mt19937 random(20261209);
  std::vector<unsigned char> bytes(1500);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(random());
  }
  const auto size = static_cast<std::uint32_t>(bytes.size());
  const std::uint32_t whole = crc32_accumulate(0, bytes.data(), size);
  for (std::uint32_t split = 0; split <= size; ++split) {
    const std::uint32_t head = crc32_accumulate(0, bytes.data(), split);
    ASSERT_EQ(crc32_accumulate(head, bytes.data() + split, size - split), whole)
        << "split at " << split;
  }
}

TEST(crc32, random_buffers_and_starting_values_match_zlib) {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> size(0, 200000);
  for (int round = 0; round < 100; ++round) {
    std::vector<unsigned char> bytes(size(random));
    for (unsigned char& byte : bytes) {
      byte = static_cast<unsigned char>(random());
    }
    const std::uint32_t start = round % 2 == 0 ? 0 : random();
    ASSERT_EQ(crc32_accumulate(start, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size())),
              zlib_crc(start, bytes))
        << "round " << round << ", " << bytes.size() << " bytes";
  }
}

}  // namespace
}  // namespace upgrade_info
