// Folding on 512-bit registers with VPCLMULQDQ: four accumulators of four
// 128-bit lanes each, 256 bytes a step. Built with AVX-512 and VPCLMULQDQ
// enabled, for this file only.

#include "crc32_kernels.h"
#include "crc32_x86_fold.h"

namespace upgrade_info::detail {

namespace {

// The zero-masking forms of broadcast and extract are used throughout: the
// plain ones (and the cast to 128 bits, which GCC 12 builds on extract)
// start from an undefined register, of which GCC 12 warns wrongly
// (https://gcc.gnu.org/bugzilla/show_bug.cgi?id=105593).
__m512i fold_constants_512(crc32_fold::lane_pair constants) {
  return _mm512_maskz_broadcast_i32x4(0xFFFF, fold_constants(constants));
}

__m128i lane(__m512i z, int index) {
  switch (index) {
    case 0:
      return _mm512_maskz_extracti32x4_epi32(0xF, z, 0);
    case 1:
      return _mm512_maskz_extracti32x4_epi32(0xF, z, 1);
    case 2:
      return _mm512_maskz_extracti32x4_epi32(0xF, z, 2);
    default:
      return _mm512_maskz_extracti32x4_epi32(0xF, z, 3);
  }
}

__m512i load_512(const unsigned char* bytes) {
  return _mm512_loadu_si512(bytes);
}

// One three-way exclusive-or (truth table 0x96) adds both products to next.
__m512i fold_512(__m512i x, __m512i constants, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, constants, 0x00),
                                   _mm512_clmulepi64_epi128(x, constants, 0x11),
                                   next, 0x96);
}

}  // namespace

std::uint32_t crc32_vpclmul_avx512(std::uint32_t crc,
                                   const unsigned char* bytes,
                                   std::size_t length) {
  if (length < 1024) {
    return crc32_vpclmul_avx2(crc, bytes, length);
  }
  __m512i z0 = _mm512_xor_si512(
      load_512(bytes),
      _mm512_inserti32x4(_mm512_setzero_si512(),
                         _mm_cvtsi32_si128(static_cast<int>(~crc)), 0));
  __m512i z1 = load_512(bytes + 64);
  __m512i z2 = load_512(bytes + 128);
  __m512i z3 = load_512(bytes + 192);
  bytes += 256;
  length -= 256;

  const __m512i by_2048 = fold_constants_512(crc32_fold::fold_by(2048));
  for (; length >= 256; bytes += 256, length -= 256) {
    z0 = fold_512(z0, by_2048, load_512(bytes));
    z1 = fold_512(z1, by_2048, load_512(bytes + 64));
    z2 = fold_512(z2, by_2048, load_512(bytes + 128));
    z3 = fold_512(z3, by_2048, load_512(bytes + 192));
  }
  __m512i z = fold_512(z2, fold_constants_512(crc32_fold::fold_by(512)), z3);
  z = fold_512(z1, fold_constants_512(crc32_fold::fold_by(1024)), z);
  z = fold_512(z0, fold_constants_512(crc32_fold::fold_by(1536)), z);

  // Lane k stands 16 * (3 - k) bytes before the last.
  __m128i x = lane(z, 3);
  x = fold_128(lane(z, 2), fold_constants(crc32_fold::fold_by(128)), x);
  x = fold_128(lane(z, 1), fold_constants(crc32_fold::fold_by(256)), x);
  x = fold_128(lane(z, 0), fold_constants(crc32_fold::fold_by(384)), x);
  x = fold_blocks_128(x, bytes, length);
  return crc32_slice16(~reduce_128(x), bytes, length);
}

}  // namespace upgrade_info::detail
