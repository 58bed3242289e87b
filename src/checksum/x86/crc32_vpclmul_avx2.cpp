// Folding on 256-bit registers with VPCLMULQDQ: four accumulators of two
// 128-bit lanes each, 128 bytes a step. Built with AVX2 and VPCLMULQDQ
// enabled, for this file only.

#include "checksum/crc32_kernels.h"
#include "checksum/x86/crc32_x86_fold.h"

namespace upgrade_info::detail {

namespace {

struct vector_256 {
  using type = __m256i;
  static constexpr fold_distances FOLDS = folds_of(256);
  static type load(const unsigned char* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  }
  // Set explicitly, upper lanes included: a cast from 128 bits would leave
  // them undefined.
  static type load_adding(const unsigned char* bytes, std::uint32_t value) {
    return _mm256_xor_si256(
        load(bytes),
        _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(value)));
  }
  static type constants(crc32_fold::lane_pair pair) {
    const auto low = static_cast<long long>(pair.low);
    const auto high = static_cast<long long>(pair.high);
    return _mm256_set_epi64x(high, low, high, low);
  }
  static type fold(type x, type by, type next) {
    return _mm256_xor_si256(
        _mm256_xor_si256(_mm256_clmulepi64_epi128(x, by, 0x00),
                         _mm256_clmulepi64_epi128(x, by, 0x11)),
        next);
  }
  // The low lane stands 16 bytes before the high one.
  static __m128i lanes_folded(type x) {
    return fold_128(_mm256_castsi256_si128(x),
                    fold_constants(crc32_fold::fold_by(128)),
                    _mm256_extracti128_si256(x, 1));
  }
};

}  // namespace

std::uint32_t crc32_vpclmul_avx2(std::uint32_t crc, const unsigned char* bytes,
                                 std::size_t length) {
  return length < 256 ? crc32_pclmul(crc, bytes, length)
                      : fold_on<vector_256>(crc, bytes, length);
}

}  // namespace upgrade_info::detail
