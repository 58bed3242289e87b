#include "checksum/crc32_kernels.h"
#include "checksum/crc32_table.h"

namespace upgrade_info::detail {

std::uint32_t crc32_slice16(std::uint32_t crc, const unsigned char* bytes,
                            std::size_t length) {
  const crc32_slice_tables_t& t = crc32_slice_tables;
  std::uint32_t remainder = ~crc;
  // The remainder meets the first four bytes of each step; every byte then
  // looks up its own table by its distance from the step's end.
  for (; length >= 16; bytes += 16, length -= 16) {
    remainder = look_up_word(t, 15, load_le32(bytes) ^ remainder) ^
                look_up_word(t, 11, load_le32(bytes + 4)) ^
                look_up_word(t, 7, load_le32(bytes + 8)) ^
                look_up_word(t, 3, load_le32(bytes + 12));
  }
  if (length >= 8) {
    remainder = look_up_word(t, 7, load_le32(bytes) ^ remainder) ^
                look_up_word(t, 3, load_le32(bytes + 4));
    bytes += 8;
    length -= 8;
  }
  if (length >= 4) {
    remainder = look_up_word(t, 3, load_le32(bytes) ^ remainder);
    bytes += 4;
    length -= 4;
  }
  for (; length > 0; ++bytes, --length) {
    remainder = t[0][(remainder ^ *bytes) & 0xFF] ^ (remainder >> 8);
  }
  return ~remainder;
}

}  // namespace upgrade_info::detail
