#ifndef UPGRADE_INFO_CHECKSUM_CRC32_TABLE_H_
#define UPGRADE_INFO_CHECKSUM_CRC32_TABLE_H_

// The lookup tables of the table-driven checksum kernels. Only the
// checksum's own files include this header.

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

// Slicing: entry n of table k advances the checksum over the byte n followed
// by k zero bytes, so sixteen lookups, one per byte of a 16-byte block, give
// sixteen independent terms whose exclusive-or advances it over the block.
using crc32_slice_tables_t = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr crc32_slice_tables_t make_crc32_slice_tables() {
  crc32_slice_tables_t tables{};
  tables[0] = crc32_table;
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::size_t n = 0; n < 256; ++n) {
      const std::uint32_t previous = tables[k - 1][n];
      tables[k][n] = (previous >> 8) ^ crc32_table[previous & 0xFF];
    }
  }
  return tables;
}

inline constexpr crc32_slice_tables_t crc32_slice_tables =
    make_crc32_slice_tables();

// Four bytes, least significant first, whatever the CPU's byte order.
inline std::uint32_t load_le32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
         std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
}

// The four lookups for a word whose first byte goes to table `first`, its
// others to the three tables below it.
template <typename Tables>
std::uint32_t look_up_word(const Tables& tables, std::size_t first,
                           std::uint32_t word) {
  return tables[first][word & 0xFF] ^ tables[first - 1][(word >> 8) & 0xFF] ^
         tables[first - 2][(word >> 16) & 0xFF] ^ tables[first - 3][word >> 24];
}

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKSUM_CRC32_TABLE_H_
