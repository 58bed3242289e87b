// Folding on 128-bit registers with PCLMULQDQ: four accumulators, 64 bytes
// a step. Built with SSE4.1 and PCLMULQDQ enabled, for this file only.

#include "checksum/crc32_kernels.h"
#include "checksum/x86/crc32_x86_fold.h"

namespace upgrade_info::detail {

std::uint32_t crc32_pclmul(std::uint32_t crc, const unsigned char* bytes,
                           std::size_t length) {
  return length < 64 ? crc32_slice16(crc, bytes, length)
                     : fold_on<vector_128>(crc, bytes, length);
}

}  // namespace upgrade_info::detail
