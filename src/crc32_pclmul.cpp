// Folding on 128-bit registers with PCLMULQDQ: four accumulators, 64 bytes
// a step. Built with SSE4.1 and PCLMULQDQ enabled, for this file only.

#include "crc32_kernels.h"
#include "crc32_x86_fold.h"

namespace upgrade_info::detail {

std::uint32_t crc32_pclmul(std::uint32_t crc, const unsigned char* bytes,
                           std::size_t length) {
  if (length < 64) {
    return crc32_slice16(crc, bytes, length);
  }
  // The complemented checksum so far enters as the first 32 bits.
  __m128i x0 =
      _mm_xor_si128(load_128(bytes), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i x1 = load_128(bytes + 16);
  __m128i x2 = load_128(bytes + 32);
  __m128i x3 = load_128(bytes + 48);
  bytes += 64;
  length -= 64;

  const __m128i by_512 = fold_constants(crc32_fold::fold_by(512));
  for (; length >= 64; bytes += 64, length -= 64) {
    x0 = fold_128(x0, by_512, load_128(bytes));
    x1 = fold_128(x1, by_512, load_128(bytes + 16));
    x2 = fold_128(x2, by_512, load_128(bytes + 32));
    x3 = fold_128(x3, by_512, load_128(bytes + 48));
  }
  __m128i x = fold_128(x2, fold_constants(crc32_fold::fold_by(128)), x3);
  x = fold_128(x1, fold_constants(crc32_fold::fold_by(256)), x);
  x = fold_128(x0, fold_constants(crc32_fold::fold_by(384)), x);

  x = fold_blocks_128(x, bytes, length);
  return crc32_slice16(~reduce_128(x), bytes, length);
}

}  // namespace upgrade_info::detail
