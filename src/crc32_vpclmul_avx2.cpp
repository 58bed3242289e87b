// Folding on 256-bit registers with VPCLMULQDQ: four accumulators of two
// 128-bit lanes each, 128 bytes a step. Built with AVX2 and VPCLMULQDQ
// enabled, for this file only.

#include "crc32_kernels.h"
#include "crc32_x86_fold.h"

namespace upgrade_info::detail {

namespace {

__m256i fold_constants_256(crc32_fold::lane_pair constants) {
  const auto low = static_cast<long long>(constants.low);
  const auto high = static_cast<long long>(constants.high);
  return _mm256_set_epi64x(high, low, high, low);
}

__m256i load_256(const unsigned char* bytes) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

__m256i fold_256(__m256i x, __m256i constants, __m256i next) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_clmulepi64_epi128(x, constants, 0x00),
                       _mm256_clmulepi64_epi128(x, constants, 0x11)),
      next);
}

}  // namespace

std::uint32_t crc32_vpclmul_avx2(std::uint32_t crc, const unsigned char* bytes,
                                 std::size_t length) {
  if (length < 256) {
    return crc32_pclmul(crc, bytes, length);
  }
  // Set explicitly, upper lanes included: a cast from 128 bits would leave
  // them undefined.
  __m256i y0 = _mm256_xor_si256(
      load_256(bytes),
      _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(~crc)));
  __m256i y1 = load_256(bytes + 32);
  __m256i y2 = load_256(bytes + 64);
  __m256i y3 = load_256(bytes + 96);
  bytes += 128;
  length -= 128;

  const __m256i by_1024 = fold_constants_256(crc32_fold::fold_by(1024));
  for (; length >= 128; bytes += 128, length -= 128) {
    y0 = fold_256(y0, by_1024, load_256(bytes));
    y1 = fold_256(y1, by_1024, load_256(bytes + 32));
    y2 = fold_256(y2, by_1024, load_256(bytes + 64));
    y3 = fold_256(y3, by_1024, load_256(bytes + 96));
  }
  __m256i y = fold_256(y2, fold_constants_256(crc32_fold::fold_by(256)), y3);
  y = fold_256(y1, fold_constants_256(crc32_fold::fold_by(512)), y);
  y = fold_256(y0, fold_constants_256(crc32_fold::fold_by(768)), y);

  // The low lane stands 16 bytes before the high one.
  __m128i x = fold_128(_mm256_castsi256_si128(y),
                       fold_constants(crc32_fold::fold_by(128)),
                       _mm256_extracti128_si256(y, 1));
  x = fold_blocks_128(x, bytes, length);
  return crc32_slice16(~reduce_128(x), bytes, length);
}

}  // namespace upgrade_info::detail
