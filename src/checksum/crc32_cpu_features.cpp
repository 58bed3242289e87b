#include "checksum/crc32_cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace upgrade_info::detail {

namespace {

#if defined(__x86_64__) || defined(__i386__)

// CPUID leaf 1, ECX.
constexpr unsigned LEAF1_ECX_PCLMULQDQ = 1u << 1;
constexpr unsigned LEAF1_ECX_SSE4_1 = 1u << 19;
constexpr unsigned LEAF1_ECX_OSXSAVE = 1u << 27;  // XGETBV may be used
constexpr unsigned LEAF1_ECX_AVX = 1u << 28;
// CPUID leaf 7, subleaf 0.
constexpr unsigned LEAF7_EBX_AVX2 = 1u << 5;
constexpr unsigned LEAF7_EBX_AVX512F = 1u << 16;
constexpr unsigned LEAF7_ECX_VPCLMULQDQ = 1u << 10;
// XCR0: the register state the operating system saves on a switch.
constexpr unsigned long long XCR0_SSE = 1u << 1;        // XMM
constexpr unsigned long long XCR0_AVX = 1u << 2;        // upper YMM
constexpr unsigned long long XCR0_OPMASK = 1u << 5;     // k0-k7
constexpr unsigned long long XCR0_ZMM_HI256 = 1u << 6;  // upper ZMM0-15
constexpr unsigned long long XCR0_HI16_ZMM = 1u << 7;   // ZMM16-31
constexpr unsigned long long XCR0_YMM = XCR0_SSE | XCR0_AVX;
constexpr unsigned long long XCR0_ZMM =
    XCR0_YMM | XCR0_OPMASK | XCR0_ZMM_HI256 | XCR0_HI16_ZMM;

unsigned long long saved_state() {
  unsigned low = 0;
  unsigned high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<unsigned long long>(high) << 32) | low;
}

bool all(unsigned bits, unsigned wanted) { return (bits & wanted) == wanted; }

cpu_features detect() {
  cpu_features features;
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx1 = 0;
  unsigned edx = 0;
  // Leaf 1 is there on every CPU that runs this program; only leaf 7 needs
  // asking whether it is.
  __cpuid(1, eax, ebx, ecx1, edx);
  features.pclmul = all(ecx1, LEAF1_ECX_PCLMULQDQ | LEAF1_ECX_SSE4_1);
  unsigned ebx7 = 0;
  unsigned ecx7 = 0;
  if (__get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, eax, ebx7, ecx7, edx);
  }
  const unsigned long long state =
      all(ecx1, LEAF1_ECX_OSXSAVE) ? saved_state() : 0;
  features.vpclmul_avx2 = features.pclmul && (state & XCR0_YMM) == XCR0_YMM &&
                          all(ecx1, LEAF1_ECX_AVX) &&
                          all(ebx7, LEAF7_EBX_AVX2) &&
                          all(ecx7, LEAF7_ECX_VPCLMULQDQ);
  features.vpclmul_avx512 = features.vpclmul_avx2 &&
                            (state & XCR0_ZMM) == XCR0_ZMM &&
                            all(ebx7, LEAF7_EBX_AVX512F);
  return features;
}

#elif defined(__aarch64__)

cpu_features detect() {
  cpu_features features;
  features.armv8_crc32 = (getauxval(AT_HWCAP) & HWCAP_CRC32) != 0;
  return features;
}

#else

cpu_features detect() { return {}; }

#endif

}  // namespace

const cpu_features& this_cpu() {
  static const cpu_features features = detect();
  return features;
}

}  // namespace upgrade_info::detail
