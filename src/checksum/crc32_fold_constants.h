#ifndef UPGRADE_INFO_CHECKSUM_CRC32_FOLD_CONSTANTS_H_
#define UPGRADE_INFO_CHECKSUM_CRC32_FOLD_CONSTANTS_H_

// The constants of CRC-32 folding with carry-less multiplication, the method
// of Intel's white paper "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction" (Gopal and others, 2009). They are derived here by
// consteval functions, so that every build, -O0 included, has them as
// constants in the code: none is computed at run time, and none is emitted
// as a function of its own inside a kernel's file, which is built for a CPU
// the machine may lack. Only the folding kernels include this header.
//
// How folding works. A CRC is the remainder of the message, as a polynomial
// over GF(2), times x^32, divided by the generator P. Remainders add up, so a
// 128-bit block A that stands D bits before the end of a longer message can
// be replaced by anything congruent to A * x^D modulo P, and added (xor) into
// the block D bits further on. Split A into its two 64-bit halves, H (the
// higher powers) and L: A * x^D = H * x^(D+64) + L * x^D, and each product is
// one carry-less multiplication of a half by the 32-bit remainder of that
// power of x. Repeating this folds the whole message into 128 bits; several
// independent accumulators, each folded across all of them (D = 512 for four
// 128-bit blocks), keep the multiplier busy. At the end the 128 bits are
// reduced to 96, then to 64, and a Barrett reduction gives the 32-bit
// remainder.
//
// Bit order. The checksum takes bytes least significant bit first, so a
// register holds its polynomial reflected: bit 0 is the highest power. A
// 64-bit lane holds a polynomial of degree below 64 with bit i standing for
// x^(63-i). The carry-less product of two such lanes is the 128-bit register
// of their product times x, so the constant that multiplies by x^n holds
// x^(n-1) mod P. For the Barrett step, mu = floor(x^64 / P) and P itself are
// held as 33-bit reflected values.

#include <cstdint>

namespace upgrade_info::crc32_fold {

inline constexpr std::uint64_t GENERATOR = 0x104C11DB7;  // P, normal order

// x^n mod P in normal order: bit k stands for x^k.
consteval std::uint64_t x_to_the_mod_p(unsigned n) {
  std::uint64_t remainder = 1;
  for (unsigned i = 0; i < n; ++i) {
    remainder <<= 1;
    if ((remainder >> 32) != 0) {
      remainder ^= GENERATOR;
    }
  }
  return remainder;
}

consteval std::uint64_t reflect(std::uint64_t value, unsigned bits) {
  std::uint64_t reflected = 0;
  for (unsigned i = 0; i < bits; ++i) {
    reflected |= ((value >> i) & 1) << (bits - 1 - i);
  }
  return reflected;
}

// The lane constant that multiplies a lane by x^n, modulo P.
consteval std::uint64_t times_x_to_the(unsigned n) {
  return reflect(x_to_the_mod_p(n - 1), 64);
}

// floor(x^64 / P), in normal order.
consteval std::uint64_t barrett_quotient() {
  std::uint64_t dividend_high = 1;  // x^64, shifted in a bit at a time
  std::uint64_t remainder = 0;
  std::uint64_t quotient = 0;
  for (int bit = 64; bit >= 0; --bit) {
    remainder = (remainder << 1) | (bit == 64 ? dividend_high : 0);
    quotient <<= 1;
    if ((remainder >> 32) != 0) {
      remainder ^= GENERATOR;
      quotient |= 1;
    }
  }
  return quotient;
}

// Multiplying the 64-bit lanes of a 128-bit block folds it forward by
// `bits`: the low lane (higher powers) by x^(bits + 64), the high by x^bits.
struct lane_pair {
  std::uint64_t low;
  std::uint64_t high;
};
consteval lane_pair fold_by(unsigned bits) {
  return {times_x_to_the(bits + 64), times_x_to_the(bits)};
}

inline constexpr std::uint64_t TIMES_X96 = times_x_to_the(96);
inline constexpr std::uint64_t TIMES_X64 = times_x_to_the(64);
inline constexpr std::uint64_t BARRETT_MU = reflect(barrett_quotient(), 33);
inline constexpr std::uint64_t BARRETT_P = reflect(GENERATOR, 33);

// Spot values as a polynomial long division in Python gives them, written
// apart from this code; mu and P as the white paper lists them.
static_assert(times_x_to_the(128) == 0x9ba54c6f00000000);
static_assert(times_x_to_the(192) == 0x65673b4600000000);
static_assert(times_x_to_the(4160) == 0xe4e4561000000000);
static_assert(BARRETT_MU == 0x1f7011641);
static_assert(BARRETT_P == 0x1db710641);

}  // namespace upgrade_info::crc32_fold

#endif  // UPGRADE_INFO_CHECKSUM_CRC32_FOLD_CONSTANTS_H_
