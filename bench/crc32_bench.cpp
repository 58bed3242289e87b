// Throughput of every checksum kernel, of the dispatched crc32_accumulate,
// of the peers found at build time, and of a plain pass that only reads the
// same memory (the bandwidth limit), at sizes from 16 bytes to 64 MiB.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "checksum/crc32.h"
#include "checksum/crc32_kernels.h"

#ifdef HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace {

using upgrade_info::detail::crc32_kernel_function;

constexpr std::size_t SIZES[] = {16,       64,      256,     4 << 10,
                                 64 << 10, 1 << 20, 64 << 20};

const unsigned char* buffer() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> random_bytes(SIZES[std::size(SIZES) - 1]);
    std::mt19937 random(1);
    for (unsigned char& byte : random_bytes) {
      byte = static_cast<unsigned char>(random());
    }
    return random_bytes;
  }();
  return bytes.data();
}

std::uint32_t dispatched(std::uint32_t crc, const unsigned char* bytes,
                         std::size_t length) {
  return upgrade_info::crc32_accumulate(crc, bytes,
                                        static_cast<std::uint32_t>(length));
}

// Reads every byte once, as fast as the compiler can vectorise it.
std::uint32_t memory_read(std::uint32_t, const unsigned char* bytes,
                          std::size_t length) {
  std::uint64_t lanes[8] = {};
  for (std::size_t i = 0; i + 64 <= length; i += 64) {
    for (int lane = 0; lane < 8; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i + 8 * lane, 8);
      lanes[lane] ^= word;
    }
  }
  std::uint64_t folded = 0;
  for (const std::uint64_t lane : lanes) {
    folded ^= lane;
  }
  return static_cast<std::uint32_t>(folded);
}

#ifdef HAVE_ZLIB
std::uint32_t zlib_crc32(std::uint32_t crc, const unsigned char* bytes,
                         std::size_t length) {
  return static_cast<std::uint32_t>(crc32_z(crc, bytes, length));
}
#endif

#ifdef HAVE_LIBDEFLATE
std::uint32_t libdeflate_crc32(std::uint32_t crc, const unsigned char* bytes,
                               std::size_t length) {
  return ::libdeflate_crc32(crc, bytes, length);
}
#endif

#ifdef HAVE_ISAL
std::uint32_t isal_crc32(std::uint32_t crc, const unsigned char* bytes,
                         std::size_t length) {
  return crc32_gzip_refl(crc, bytes, length);
}
#endif

void measure(benchmark::State& state, crc32_kernel_function function) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const unsigned char* bytes = buffer();
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = function(crc, bytes, size);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// Registers `function` at the standard sizes, and at every length from 1 to
// 64 bytes, where the handling of short inputs and tails shows.
void add(const std::string& name, crc32_kernel_function function) {
  const auto run = [function](benchmark::State& state) {
    measure(state, function);
  };
  auto* sized = benchmark::RegisterBenchmark(("crc32/" + name).c_str(), run);
  for (const std::size_t size : SIZES) {
    sized->Arg(static_cast<std::int64_t>(size));
  }
  benchmark::RegisterBenchmark(("crc32_short/" + name).c_str(), run)
      ->DenseRange(1, 64)
      ->MinTime(0.05);
}

}  // namespace

int main(int argc, char** argv) {
  buffer();
  for (const auto& kernel : upgrade_info::detail::crc32_kernels()) {
    if (kernel.runs_here()) {
      add(std::string(kernel.name), kernel.function);
    }
  }
  add("crc32_accumulate", dispatched);
#ifdef HAVE_ZLIB
  add("zlib", zlib_crc32);
#endif
#ifdef HAVE_LIBDEFLATE
  add("libdeflate", libdeflate_crc32);
#endif
#ifdef HAVE_ISAL
  add("isa-l", isal_crc32);
#endif
  add("memory_read", memory_read);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
