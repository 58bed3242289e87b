#ifndef UPGRADE_INFO_CRC32_TABLE_H_
#define UPGRADE_INFO_CRC32_TABLE_H_

// The byte-at-a-time lookup table behind crc32_accumulate. Only the
// checksum's own files and the tests include this header.

#include <array>
#include <cstdint>

namespace upgrade_info {

// The generator polynomial 0x04C11DB7 with its bits reversed, because the
// checksum takes each byte least significant bit first.
inline constexpr std::uint32_t CRC32_POLYNOMIAL = 0xEDB88320;

// Entry n is the remainder of the byte n shifted through eight rounds of
// polynomial division, so one lookup advances the checksum by a whole byte.
constexpr std::array<std::uint32_t, 256> make_crc32_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < table.size(); ++n) {
    std::uint32_t remainder = n;
    for (int round = 0; round < 8; ++round) {
      remainder = (remainder & 1) != 0 ? (remainder >> 1) ^ CRC32_POLYNOMIAL
                                       : remainder >> 1;
    }
    table[n] = remainder;
  }
  return table;
}

inline constexpr std::array<std::uint32_t, 256> crc32_table =
    make_crc32_table();

static_assert(crc32_table[0] == 0x00000000);
static_assert(crc32_table[1] == 0x77073096);
static_assert(crc32_table[2] == 0xEE0E612C);
static_assert(crc32_table[3] == 0x990951BA);
static_assert(crc32_table[128] == 0xEDB88320);
static_assert(crc32_table[255] == 0x2D02EF8D);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CRC32_TABLE_H_
