#ifndef UPGRADE_INFO_CRC32_X86_FOLD_H_
#define UPGRADE_INFO_CRC32_X86_FOLD_H_

// What the x86 folding kernels share: folding a 128-bit block and reducing
// one to the 32-bit checksum (see crc32_fold_constants.h for the
// arithmetic). Every function here has internal linkage, so that each
// kernel's file compiles its own copy with its own instruction set and none
// ends up in code built for the baseline CPU. Needs SSE4.1 and PCLMULQDQ.

#include <immintrin.h>

#include <cstdint>

#include "crc32_fold_constants.h"

namespace upgrade_info::detail {
namespace {

inline __m128i fold_constants(crc32_fold::lane_pair constants) {
  return _mm_set_epi64x(static_cast<long long>(constants.high),
                        static_cast<long long>(constants.low));
}

inline __m128i load_128(const unsigned char* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// `x` folded forward by the distance `constants` were made for, and added
// to `next`, the block at that distance.
inline __m128i fold_128(__m128i x, __m128i constants, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00),
                                     _mm_clmulepi64_si128(x, constants, 0x11)),
                       next);
}

// Folds whole 16-byte blocks into `x` while they last.
inline __m128i fold_blocks_128(__m128i x, const unsigned char*& bytes,
                               std::size_t& length) {
  const __m128i by_128 = fold_constants(crc32_fold::fold_by(128));
  for (; length >= 16; bytes += 16, length -= 16) {
    x = fold_128(x, by_128, load_128(bytes));
  }
  return x;
}

// The checksum remainder (before its final complement) of a message that
// `x` is congruent to: (x * x^32) mod P, in three steps.
inline std::uint32_t reduce_128(__m128i x) {
  const __m128i times_x96_x64 =
      _mm_set_epi64x(static_cast<long long>(crc32_fold::TIMES_X64),
                     static_cast<long long>(crc32_fold::TIMES_X96));
  const __m128i barrett =
      _mm_set_epi64x(static_cast<long long>(crc32_fold::BARRETT_P),
                     static_cast<long long>(crc32_fold::BARRETT_MU));
  // 128 to 96 bits: the low lane (higher powers) times x^96, plus the high
  // lane times x^32, which is the high lane moved to bits 32 to 95.
  const __m128i y = _mm_xor_si128(_mm_clmulepi64_si128(x, times_x96_x64, 0x00),
                                  _mm_bslli_si128(_mm_bsrli_si128(x, 8), 4));
  // 96 to 64 bits: the 32 highest powers, which lie in the low lane, times
  // x^64, plus the high lane.
  const __m128i z = _mm_xor_si128(_mm_clmulepi64_si128(y, times_x96_x64, 0x10),
                                  _mm_bslli_si128(_mm_bsrli_si128(y, 8), 8));
  // Barrett: the quotient from the 32 highest powers times mu, then the
  // remainder as the low 32 powers less quotient times P.
  const __m128i quotient = _mm_clmulepi64_si128(
      _mm_and_si128(z, _mm_set_epi32(0, -1, 0, 0)), barrett, 0x01);
  const __m128i product = _mm_clmulepi64_si128(
      _mm_and_si128(quotient, _mm_set_epi32(0, 0, 0, -1)), barrett, 0x10);
  return static_cast<std::uint32_t>(_mm_extract_epi32(z, 3) ^
                                    _mm_extract_epi32(product, 1));
}

}  // namespace
}  // namespace upgrade_info::detail

#endif  // UPGRADE_INFO_CRC32_X86_FOLD_H_
