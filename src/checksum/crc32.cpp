// crc32_accumulate and the kernels behind it. The byte-at-a-time kernel is
// the reference that every other is tested against; the others, each in a
// file of its own built for its instruction set, are listed here with the
// test of whether this CPU runs them, fastest first. The first that runs
// here is chosen on the first call and kept in the pointer that every later
// call goes through, but one of fewer than 16 bytes, which slicing serves
// best.

#include "checksum/crc32.h"

#include <atomic>

#include "checksum/crc32_cpu_features.h"
#include "checksum/crc32_kernels.h"
#include "checksum/crc32_table.h"

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

constexpr crc32_kernel KERNELS[] = {
#if defined(UPGRADE_INFO_CRC32_X86)
    {"vpclmul_avx512", crc32_vpclmul_avx512,
     [] { return this_cpu().vpclmul_avx512; }},
    {"vpclmul_avx2", crc32_vpclmul_avx2,
     [] { return this_cpu().vpclmul_avx2; }},
    {"pclmul", crc32_pclmul, [] { return this_cpu().pclmul; }},
#endif
#if defined(UPGRADE_INFO_CRC32_ARM64)
    {"armv8", crc32_armv8, [] { return this_cpu().armv8_crc32; }},
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

const crc32_kernel& crc32_chosen_kernel() { return choose_kernel(); }

}  // namespace detail

namespace {

std::uint32_t choose_then_run(std::uint32_t crc, const unsigned char* bytes,
                              std::size_t length);

// The kernel in use: at first one that chooses it and puts it here, so
// that every later call costs one load and one call, where a guarded
// static would add a check of its guard to each, which shows on the
// shortest inputs. Threads racing on the first call choose the same.
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
