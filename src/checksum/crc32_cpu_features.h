#ifndef UPGRADE_INFO_CHECKSUM_CRC32_CPU_FEATURES_H_
#define UPGRADE_INFO_CHECKSUM_CRC32_CPU_FEATURES_H_

// What this CPU, with its operating system, offers the checksum's kernels.
// Only the checksum's own files include this header.

namespace upgrade_info::detail {

struct cpu_features {
  bool pclmul = false;          // SSE4.1 and PCLMULQDQ
  bool vpclmul_avx2 = false;    // and AVX2 and VPCLMULQDQ, YMM state saved
  bool vpclmul_avx512 = false;  // and AVX-512F, ZMM state saved
  bool armv8_crc32 = false;     // the CRC32 instructions of ARMv8
};

// Read from the CPU once, on the first call.
const cpu_features& this_cpu();

}  // namespace upgrade_info::detail

#endif  // UPGRADE_INFO_CHECKSUM_CRC32_CPU_FEATURES_H_
