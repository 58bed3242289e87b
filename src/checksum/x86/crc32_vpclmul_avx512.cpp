// Folding on 512-bit registers with VPCLMULQDQ: four accumulators of four
// 128-bit lanes each, 256 bytes a step. Built with AVX-512 and VPCLMULQDQ
// enabled, for this file only.

#include "checksum/crc32_kernels.h"
#include "checksum/x86/crc32_x86_fold.h"

namespace upgrade_info::detail {

namespace {

// The zero-masking forms of broadcast and extract are used throughout: the
// plain ones (and the cast to 128 bits, which GCC 12 builds on extract)
// start from an undefined register, of which GCC 12 warns wrongly
// (https://gcc.gnu.org/bugzilla/show_bug.cgi?id=105593).
struct vector_512 {
  using type = __m512i;
  static constexpr fold_distances FOLDS = folds_of(512);
  static type load(const unsigned char* bytes) {
    return _mm512_loadu_si512(bytes);
  }
  static type load_adding(const unsigned char* bytes, std::uint32_t value) {
    return _mm512_xor_si512(
        load(bytes),
        _mm512_inserti32x4(_mm512_setzero_si512(),
                           _mm_cvtsi32_si128(static_cast<int>(value)), 0));
  }
  static type constants(crc32_fold::lane_pair pair) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF, fold_constants(pair));
  }
  // One three-way exclusive-or (truth table 0x96) adds both products to
  // next.
  static type fold(type x, type by, type next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, by, 0x00),
                                     _mm512_clmulepi64_epi128(x, by, 0x11),
                                     next, 0x96);
  }
  // Lane k stands 16 * (3 - k) bytes before the last.
  static __m128i lanes_folded(type x) {
    __m128i folded = _mm512_maskz_extracti32x4_epi32(0xF, x, 3);
    folded = fold_128(_mm512_maskz_extracti32x4_epi32(0xF, x, 2),
                      fold_constants(crc32_fold::fold_by(128)), folded);
    folded = fold_128(_mm512_maskz_extracti32x4_epi32(0xF, x, 1),
                      fold_constants(crc32_fold::fold_by(256)), folded);
    return fold_128(_mm512_maskz_extracti32x4_epi32(0xF, x, 0),
                    fold_constants(crc32_fold::fold_by(384)), folded);
  }
};

}  // namespace

std::uint32_t crc32_vpclmul_avx512(std::uint32_t crc,
                                   const unsigned char* bytes,
                                   std::size_t length) {
  return length < 1024 ? crc32_vpclmul_avx2(crc, bytes, length)
                       : fold_on<vector_512>(crc, bytes, length);
}

}  // namespace upgrade_info::detail
