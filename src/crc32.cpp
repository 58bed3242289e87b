#include "crc32.h"

#include "crc32_table.h"

namespace upgrade_info {

std::uint32_t crc32_accumulate(std::uint32_t crc, const unsigned char* bytes,
                               std::uint32_t length) {
  std::uint32_t remainder = ~crc;
  for (std::uint32_t i = 0; i < length; ++i) {
    remainder = crc32_table[(remainder ^ bytes[i]) & 0xFF] ^ (remainder >> 8);
  }
  return ~remainder;
}

}  // namespace upgrade_info
