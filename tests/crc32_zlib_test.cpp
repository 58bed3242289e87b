// The checksum against zlib's crc32, an implementation of the same CRC-32
// written independently of this project.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "checksum/crc32.h"

namespace upgrade_info {
namespace {

std::uint32_t zlib_crc(std::uint32_t crc,
                       const std::vector<unsigned char>& bytes) {
  return static_cast<std::uint32_t>(crc32_z(crc, bytes.data(), bytes.size()));
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

TEST(crc32, random_buffers_and_starting_values_match_zlib) {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> size(0, 200000);
  for (int round = 0; round < 100; ++round) {
    std::vector<unsigned char> bytes(size(random));
    for (unsigned char& byte : bytes) {
      byte = static_cast<unsigned char>(random());
    }
    const auto start =
        static_cast<std::uint32_t>(round % 2 == 0 ? 0 : random());
    ASSERT_EQ(crc32_accumulate(start, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size())),
              zlib_crc(start, bytes))
        << "round " << round << ", " << bytes.size() << " bytes";
  }
}

}  // namespace
}  // namespace upgrade_info
