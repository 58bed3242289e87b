// The CRC32 instructions of ARMv8, whose polynomial is this checksum's.
// Built with the CRC extension enabled, for this file only.

#include <arm_acle.h>

#include <cstring>

#include "checksum/crc32_kernels.h"

namespace upgrade_info::detail {

std::uint32_t crc32_armv8(std::uint32_t crc, const unsigned char* bytes,
                          std::size_t length) {
  std::uint32_t remainder = ~crc;
  for (; length >= 8; bytes += 8, length -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    remainder = __crc32d(remainder, word);
  }
  for (; length > 0; ++bytes, --length) {
    remainder = __crc32b(remainder, *bytes);
  }
  return ~remainder;
}

}  // namespace upgrade_info::detail
