#include "crc32.h"

#include <atomic>

#include "crc32_kernels.h"
#include "crc32_table.h"

#if defined(UPGRADE_INFO_CRC32_X86) && defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#elif defined(UPGRADE_INFO_CRC32_X86)
#include <cpuid.h>
#elif defined(UPGRADE_INFO_CRC32_ARM64) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace upgrade_info {

namespace detail {

std::uint32_t crc32_bytewise(std::uint32_t crc, const unsigned char* bytes,
                             std::size_t length) {
  std::uint32_t remainder = ~crc;
  for (std::size_t i = 0; i < length; ++i) {
    remainder = crc32_table[(remainder ^ bytes[i]) & 0xFF] ^ (remainder >> 8);
  }
  return ~remainder;
}

namespace {

bool runs_anywhere() { return true; }

#if defined(UPGRADE_INFO_CRC32_X86)

// What this x86 CPU offers, from cpuid, and what the operating system saves
// on a context switch, from xgetbv: wide registers need both.
struct x86_features {
  bool pclmul = false;          // SSE4.1 and PCLMULQDQ
  bool vpclmul_avx2 = false;    // and AVX2 and VPCLMULQDQ, with YMM state
  bool vpclmul_avx512 = false;  // and AVX-512F, with ZMM state
};

void cpuid(unsigned leaf, unsigned registers[4]) {
#if defined(_MSC_VER)
  __cpuidex(reinterpret_cast<int*>(registers), static_cast<int>(leaf), 0);
#else
  __cpuid_count(leaf, 0, registers[0], registers[1], registers[2],
                registers[3]);
#endif
}

unsigned long long saved_state() {
#if defined(_MSC_VER)
  return _xgetbv(0);
#else
  unsigned low = 0;
  unsigned high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<unsigned long long>(high) << 32) | low;
#endif
}

x86_features detect_x86_features() {
  x86_features features;
  unsigned leaf0[4];
  cpuid(0, leaf0);
  if (leaf0[0] < 7) {
    return features;
  }
  unsigned leaf1[4];
  unsigned leaf7[4];
  cpuid(1, leaf1);
  cpuid(7, leaf7);
  const auto has = [](unsigned reg, int bit) {
    return ((reg >> bit) & 1) != 0;
  };
  const unsigned ecx1 = leaf1[2];
  const unsigned ebx7 = leaf7[1];
  const unsigned ecx7 = leaf7[2];
  features.pclmul = has(ecx1, 1) && has(ecx1, 19);
  const unsigned long long state = has(ecx1, 27) ? saved_state() : 0;
  const bool ymm_saved = (state & 0x6) == 0x6;
  const bool zmm_saved = (state & 0xE6) == 0xE6;
  features.vpclmul_avx2 = features.pclmul && ymm_saved && has(ecx1, 28) &&
                          has(ebx7, 5) && has(ecx7, 10);
  features.vpclmul_avx512 = features.vpclmul_avx2 && zmm_saved && has(ebx7, 16);
  return features;
}

const x86_features& x86() {
  static const x86_features features = detect_x86_features();
  return features;
}

bool runs_pclmul() { return x86().pclmul; }
bool runs_vpclmul_avx2() { return x86().vpclmul_avx2; }
bool runs_vpclmul_avx512() { return x86().vpclmul_avx512; }

#endif

#if defined(UPGRADE_INFO_CRC32_ARM64)
bool runs_armv8() {
#if defined(__linux__)
  return (getauxval(AT_HWCAP) & HWCAP_CRC32) != 0;
#else
  return false;
#endif
}
#endif

constexpr crc32_kernel KERNELS[] = {
#if defined(UPGRADE_INFO_CRC32_X86)
    {"vpclmul_avx512", crc32_vpclmul_avx512, runs_vpclmul_avx512},
    {"vpclmul_avx2", crc32_vpclmul_avx2, runs_vpclmul_avx2},
    {"pclmul", crc32_pclmul, runs_pclmul},
#endif
#if defined(UPGRADE_INFO_CRC32_ARM64)
    {"armv8", crc32_armv8, runs_armv8},
#endif
    {"braided", crc32_braided, runs_anywhere},
    {"slice16", crc32_slice16, runs_anywhere},
    {"bytewise", crc32_bytewise, runs_anywhere},
};

const crc32_kernel& choose_kernel() {
  for (const crc32_kernel& kernel : KERNELS) {
    if (kernel.runs_here()) {
      return kernel;
    }
  }
  return KERNELS[std::size(KERNELS) - 1];
}

}  // namespace

std::span<const crc32_kernel> crc32_kernels() { return KERNELS; }

const crc32_kernel& crc32_chosen_kernel() {
  static const crc32_kernel& chosen = choose_kernel();
  return chosen;
}

}  // namespace detail

namespace {

std::uint32_t choose_then_run(std::uint32_t crc, const unsigned char* bytes,
                              std::size_t length);

// The kernel in use: at first one that chooses it, on its first call, and
// puts it here, so every later call costs one load and one call. Threads
// racing on the first call choose the same kernel.
std::atomic<detail::crc32_kernel_function> kernel_in_use{choose_then_run};

std::uint32_t choose_then_run(std::uint32_t crc, const unsigned char* bytes,
                              std::size_t length) {
  const detail::crc32_kernel_function chosen =
      detail::crc32_chosen_kernel().function;
  kernel_in_use.store(chosen, std::memory_order_relaxed);
  return chosen(crc, bytes, length);
}

}  // namespace

std::uint32_t crc32_accumulate(std::uint32_t crc, const unsigned char* bytes,
                               std::uint32_t length) {
  // The tables serve the shortest inputs best, with no call through a
  // pointer.
  if (length < 16) {
    return detail::crc32_slice16(crc, bytes, length);
  }
  return kernel_in_use.load(std::memory_order_relaxed)(crc, bytes, length);
}

}  // namespace upgrade_info
