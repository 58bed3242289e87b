// The byte-at-a-time reference against CRC-32's check value, and every
// checksum kernel this CPU can run against the reference: short lengths at
// every alignment, lengths on both sides of where kernels change strategy,
// long random buffers, chaining, and buffers flush against unreadable
// memory.

#include "checksum/crc32_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "checksum/crc32.h"
#include "guarded_buffer.h"

namespace upgrade_info::detail {
namespace {

using testing::guarded_buffer;

std::vector<unsigned char> random_bytes(std::size_t size,
                                        std::mt19937& random) {
  std::vector<unsigned char> bytes(size);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(random());
  }
  return bytes;
}

std::uint32_t random_start(std::mt19937& random) {
  return std::uniform_int_distribution<std::uint32_t>()(random);
}

// The reference that every kernel is held to, against CRC-32's published
// check value.
TEST(crc32_reference, known_answer) {
  const std::string digits = "123456789";
  EXPECT_EQ(
      crc32_bytewise(0, reinterpret_cast<const unsigned char*>(digits.data()),
                     digits.size()),
      0xCBF43926u);
}

class crc32_kernel_test : public ::testing::TestWithParam<crc32_kernel> {
 protected:
  void SetUp() override {
    if (!GetParam().runs_here()) {
      GTEST_SKIP() << "this CPU lacks what " << GetParam().name << " needs";
    }
  }

  std::uint32_t kernel(std::uint32_t crc, const unsigned char* bytes,
                       std::size_t length) const {
    return GetParam().function(crc, bytes, length);
  }
};

TEST_P(crc32_kernel_test, every_length_to_1024_at_every_offset) {
  std::mt19937 random(1);
  const std::vector<unsigned char> bytes = random_bytes(1024 + 64, random);
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t length = 0; length <= 1024; ++length) {
      const std::uint32_t start = random_start(random);
      ASSERT_EQ(kernel(start, bytes.data() + offset, length),
                crc32_bytewise(start, bytes.data() + offset, length))
          << "offset " << offset << ", length " << length;
    }
  }
}

TEST_P(crc32_kernel_test, lengths_around_every_change_of_strategy) {
  std::mt19937 random(2);
  const std::vector<unsigned char> bytes = random_bytes(1 << 14, random);
  // Every length to 1024 is tested above, where the folding kernels take
  // over from the narrower ones (64, 256, 1024 bytes); beyond it, lengths
  // around multiples of their steps (64, 128, 256 bytes) and blocks of 16.
  for (const std::size_t threshold :
       {1024u, 1280u, 1536u, 2048u, 4096u, 8192u}) {
    for (std::size_t length = threshold - 300; length <= threshold + 300;
         ++length) {
      ASSERT_EQ(kernel(0xFFFFFFFF, bytes.data() + 1, length),
                crc32_bytewise(0xFFFFFFFF, bytes.data() + 1, length))
          << "length " << length;
    }
  }
}

TEST_P(crc32_kernel_test, random_lengths_to_four_mebibytes) {
  std::mt19937 random(3);
  const std::vector<unsigned char> bytes = random_bytes(4 << 20, random);
  std::uniform_int_distribution<std::size_t> length(0, bytes.size());
  for (int round = 0; round < 8; ++round) {
    const std::size_t size = length(random);
    const std::size_t offset = (bytes.size() - size) / 2;
    const std::uint32_t start = random_start(random);
    ASSERT_EQ(kernel(start, bytes.data() + offset, size),
              crc32_bytewise(start, bytes.data() + offset, size))
        << "length " << size;
  }
}

TEST_P(crc32_kernel_test, chaining_at_random_points_matches_one_call) {
  std::mt19937 random(4);
  const std::vector<unsigned char> bytes = random_bytes(100000, random);
  const std::uint32_t whole = crc32_bytewise(0, bytes.data(), bytes.size());
  for (int round = 0; round < 200; ++round) {
    std::vector<std::size_t> cuts{0, bytes.size()};
    for (int i = round % 5; i > 0; --i) {
      cuts.push_back(random() % bytes.size());
    }
    std::sort(cuts.begin(), cuts.end());
    std::uint32_t crc = 0;
    for (std::size_t i = 1; i < cuts.size(); ++i) {
      crc = kernel(crc, bytes.data() + cuts[i - 1], cuts[i] - cuts[i - 1]);
    }
    ASSERT_EQ(crc, whole) << "round " << round;
  }
}

TEST_P(crc32_kernel_test, reads_nothing_beyond_either_end) {
  constexpr std::size_t LARGEST = 5000;
  const guarded_buffer memory(LARGEST);
  std::mt19937 random(5);
  std::generate(memory.begin(), memory.end(),
                [&] { return static_cast<unsigned char>(random()); });
  for (std::size_t length = 0; length <= LARGEST; ++length) {
    const unsigned char* at_end = memory.end() - length;
    ASSERT_EQ(kernel(7, at_end, length), crc32_bytewise(7, at_end, length))
        << "length " << length;
    ASSERT_EQ(kernel(7, memory.begin(), length),
              crc32_bytewise(7, memory.begin(), length))
        << "length " << length;
  }
}

// Every kernel but the reference itself.
std::vector<crc32_kernel> compared_kernels() {
  std::vector<crc32_kernel> compared;
  for (const crc32_kernel& candidate : crc32_kernels()) {
    if (candidate.function != crc32_bytewise) {
      compared.push_back(candidate);
    }
  }
  return compared;
}

INSTANTIATE_TEST_SUITE_P(
    all, crc32_kernel_test, ::testing::ValuesIn(compared_kernels()),
    [](const ::testing::TestParamInfo<crc32_kernel>& tested) {
      return std::string(tested.param.name);
    });

// The entry point, through whichever kernel it chose, at every length where
// it calls one.
TEST(crc32_dispatch, entry_point_agrees_with_the_reference) {
  std::printf("checksum kernel chosen here: %s\n",
              std::string(crc32_chosen_kernel().name).c_str());
  std::mt19937 random(6);
  const std::vector<unsigned char> bytes = random_bytes(3000, random);
  for (std::uint32_t length = 0; length <= bytes.size(); ++length) {
    ASSERT_EQ(crc32_accumulate(5, bytes.data(), length),
              crc32_bytewise(5, bytes.data(), length))
        << "length " << length;
  }
}

}  // namespace
}  // namespace upgrade_info::detail
