#ifndef UPGRADE_INFO_CHECKSUM_CRC32_KERNELS_H_
#define UPGRADE_INFO_CHECKSUM_CRC32_KERNELS_H_

// The implementations behind crc32_accumulate. Each takes and returns a
// checksum exactly as crc32_accumulate does, over any number of bytes. Only
// the checksum's own files, the tests and the benchmarks include this header.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace upgrade_info::detail {

using crc32_kernel_function = std::uint32_t (*)(std::uint32_t crc,
                                                const unsigned char* bytes,
                                                std::size_t length);

// A byte at a time through crc32_table: the reference for all the others.
std::uint32_t crc32_bytewise(std::uint32_t crc, const unsigned char* bytes,
                             std::size_t length);
// Sixteen bytes at a time through crc32_slice_tables, on any CPU; what the
// braided and folding kernels use for short inputs and the last few bytes.
std::uint32_t crc32_slice16(std::uint32_t crc, const unsigned char* bytes,
                            std::size_t length);
// Eight interleaved streams of slicing by four, on any CPU.
std::uint32_t crc32_braided(std::uint32_t crc, const unsigned char* bytes,
                            std::size_t length);

#if defined(__x86_64__) || defined(__i386__)
#define UPGRADE_INFO_CRC32_X86 1
// Folding with carry-less multiplication on 128-bit registers (SSE4.1 and
// PCLMULQDQ), on 256-bit ones (AVX2 and VPCLMULQDQ), on 512-bit ones
// (AVX-512 and VPCLMULQDQ).
std::uint32_t crc32_pclmul(std::uint32_t crc, const unsigned char* bytes,
                           std::size_t length);
std::uint32_t crc32_vpclmul_avx2(std::uint32_t crc, const unsigned char* bytes,
                                 std::size_t length);
std::uint32_t crc32_vpclmul_avx512(std::uint32_t crc,
                                   const unsigned char* bytes,
                                   std::size_t length);
#endif

#if defined(__aarch64__)
#define UPGRADE_INFO_CRC32_ARM64 1
// The CRC32 instructions of ARMv8, eight bytes at a time.
std::uint32_t crc32_armv8(std::uint32_t crc, const unsigned char* bytes,
                          std::size_t length);
#endif

struct crc32_kernel {
  std::string_view name;
  crc32_kernel_function function;
  bool (*runs_here)();  // whether this CPU has the instructions it needs
};

// Every kernel built into the program, the preferred first; the last runs
// on any CPU.
std::span<const crc32_kernel> crc32_kernels();

// The kernel crc32_accumulate uses: the first in crc32_kernels() that runs
// here.
const crc32_kernel& crc32_chosen_kernel();

}  // namespace upgrade_info::detail

#endif  // UPGRADE_INFO_CHECKSUM_CRC32_KERNELS_H_
