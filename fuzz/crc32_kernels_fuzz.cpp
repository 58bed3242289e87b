// libFuzzer target: every checksum kernel this CPU runs agrees with the
// byte-at-a-time reference on any input, from any starting value, whole or
// split in two at any point. The input is laid out as
//
//   bytes 0-3  the starting checksum, least significant byte first
//   bytes 4-5  where to split the message (modulo its length plus one)
//   the rest   the message

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "checksum/crc32_kernels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace upgrade_info::detail;
  if (size < 6) {
    return 0;
  }
  const std::uint32_t start =
      std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
      std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24;
  const unsigned char* message = data + 6;
  const std::size_t length = size - 6;
  const std::size_t split =
      (std::size_t{data[4]} | std::size_t{data[5]} << 8) % (length + 1);

  const std::uint32_t expected = crc32_bytewise(start, message, length);
  for (const crc32_kernel& kernel : crc32_kernels()) {
    if (!kernel.runs_here()) {
      continue;
    }
    const std::uint32_t whole = kernel.function(start, message, length);
    const std::uint32_t chained =
        kernel.function(kernel.function(start, message, split), message + split,
                        length - split);
    if (whole != expected || chained != expected) {
      std::fprintf(stderr, "%s: %08x whole, %08x split at %zu, expected %08x\n",
                   std::string(kernel.name).c_str(), whole, chained, split,
                   expected);
      std::abort();
    }
  }
  return 0;
}
