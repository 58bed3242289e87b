#ifndef UPGRADE_INFO_CHECKSUM_X86_CRC32_X86_FOLD_H_
#define UPGRADE_INFO_CHECKSUM_X86_CRC32_X86_FOLD_H_

// The x86 folding kernel, written once for every vector width (see
// crc32_fold_constants.h for the arithmetic). Four accumulators of one
// vector each take four vectors of the input a step, each folded forward
// by the step's length onto the next; at the end they are folded into one,
// its 128-bit lanes into one, then the last whole 16-byte blocks, and that
// is reduced to the 32-bit checksum; slicing by 16 takes the last bytes.
//
// Every function here has internal linkage, so that each kernel's file
// compiles its own copy with its own instruction set and none ends up in
// code built for the baseline CPU. Needs SSE4.1 and PCLMULQDQ.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "checksum/crc32_fold_constants.h"
#include "checksum/crc32_kernels.h"

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

// The constants that fold a vector of `bits` forward by one, two, three and
// four vectors. Each vector's type holds its own, bound where no template
// is involved: clang 14 refuses a consteval call whose argument depends on
// a template's parameter.
struct fold_distances {
  crc32_fold::lane_pair by_one;
  crc32_fold::lane_pair by_two;
  crc32_fold::lane_pair by_three;
  crc32_fold::lane_pair by_four;
};
consteval fold_distances folds_of(unsigned bits) {
  return {crc32_fold::fold_by(bits), crc32_fold::fold_by(2 * bits),
          crc32_fold::fold_by(3 * bits), crc32_fold::fold_by(4 * bits)};
}

// The 128-bit vector, which every x86 folding kernel ends with, and the
// widest that PCLMULQDQ alone takes.
struct vector_128 {
  using type = __m128i;
  static constexpr fold_distances FOLDS = folds_of(128);
  static type load(const unsigned char* bytes) { return load_128(bytes); }
  // The vector at `bytes`, with `value` added to its first 32 bits.
  static type load_adding(const unsigned char* bytes, std::uint32_t value) {
    return _mm_xor_si128(load_128(bytes),
                         _mm_cvtsi32_si128(static_cast<int>(value)));
  }
  static type constants(crc32_fold::lane_pair pair) {
    return fold_constants(pair);
  }
  static type fold(type x, type by, type next) { return fold_128(x, by, next); }
  static __m128i lanes_folded(type x) { return x; }
};

// The checksum of `length` bytes, at least four vectors' worth, on from
// `crc`, folded on `Vector` (vector_128, or a wider one of the same form).
template <typename Vector>
std::uint32_t fold_on(std::uint32_t crc, const unsigned char* bytes,
                      std::size_t length) {
  using type = typename Vector::type;
  constexpr std::size_t WIDTH = sizeof(type);
  constexpr std::size_t STEP = 4 * WIDTH;
  // The complemented checksum so far enters as the first 32 bits.
  type v0 = Vector::load_adding(bytes, ~crc);
  type v1 = Vector::load(bytes + WIDTH);
  type v2 = Vector::load(bytes + 2 * WIDTH);
  type v3 = Vector::load(bytes + 3 * WIDTH);
  bytes += STEP;
  length -= STEP;
  const type by_step = Vector::constants(Vector::FOLDS.by_four);
  for (; length >= STEP; bytes += STEP, length -= STEP) {
    v0 = Vector::fold(v0, by_step, Vector::load(bytes));
    v1 = Vector::fold(v1, by_step, Vector::load(bytes + WIDTH));
    v2 = Vector::fold(v2, by_step, Vector::load(bytes + 2 * WIDTH));
    v3 = Vector::fold(v3, by_step, Vector::load(bytes + 3 * WIDTH));
  }
  // Each accumulator folded by its distance to the last.
  type v = Vector::fold(v2, Vector::constants(Vector::FOLDS.by_one), v3);
  v = Vector::fold(v1, Vector::constants(Vector::FOLDS.by_two), v);
  v = Vector::fold(v0, Vector::constants(Vector::FOLDS.by_three), v);
  __m128i x = Vector::lanes_folded(v);
  x = fold_blocks_128(x, bytes, length);
  return crc32_slice16(~reduce_128(x), bytes, length);
}

}  // namespace
}  // namespace upgrade_info::detail

#endif  // UPGRADE_INFO_CHECKSUM_X86_CRC32_X86_FOLD_H_
