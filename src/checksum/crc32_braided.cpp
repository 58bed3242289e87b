// Eight interleaved streams of slicing by four, for CPUs with no
// carry-less multiplication.
//
// Slicing alone keeps one checksum, and each step waits for the last. Here
// the input is dealt out in 4-byte words to eight streams in turn, each with
// a checksum of its own, so that eight independent chains of lookups run at
// once. A stream's tables advance a byte not only through the rest of its
// word but also through the seven words of the other streams that follow,
// to the stream's next word; the streams thus never need combining until
// the last round, where their words are taken in order by plain slicing,
// each with its stream's checksum added in.

#include <array>

#include "checksum/crc32_kernels.h"
#include "checksum/crc32_table.h"

namespace upgrade_info::detail {

namespace {

constexpr std::size_t STREAMS = 8;
constexpr std::size_t WORD = 4;
constexpr std::size_t ROUND = STREAMS * WORD;

using braid_tables_t = std::array<std::array<std::uint32_t, 256>, WORD>;

// Entry b of table k: the byte b followed by k more bytes of its word, then
// by the other streams' words up to the stream's next (as slicing's table k
// is the byte b followed by k bytes).
constexpr braid_tables_t make_braid_tables() {
  braid_tables_t tables{};
  for (std::size_t k = 0; k < WORD; ++k) {
    for (std::size_t b = 0; b < 256; ++b) {
      std::uint32_t remainder = crc32_table[b];
      for (std::size_t zero = 0; zero < k + WORD * (STREAMS - 1); ++zero) {
        remainder = (remainder >> 8) ^ crc32_table[remainder & 0xFF];
      }
      tables[k][b] = remainder;
    }
  }
  return tables;
}

constexpr braid_tables_t braid_tables = make_braid_tables();

}  // namespace

std::uint32_t crc32_braided(std::uint32_t crc, const unsigned char* bytes,
                            std::size_t length) {
  if (length < 4 * ROUND) {
    return crc32_slice16(crc, bytes, length);
  }
  std::uint32_t streams[STREAMS] = {~crc};
  for (std::size_t rounds = length / ROUND - 1; rounds > 0; --rounds) {
    for (std::size_t s = 0; s < STREAMS; ++s) {
      streams[s] = look_up_word(braid_tables, WORD - 1,
                                load_le32(bytes + WORD * s) ^ streams[s]);
    }
    bytes += ROUND;
  }
  std::uint32_t remainder = 0;
  for (std::size_t s = 0; s < STREAMS; ++s) {
    remainder =
        look_up_word(crc32_slice_tables, WORD - 1,
                     load_le32(bytes + WORD * s) ^ streams[s] ^ remainder);
  }
  bytes += ROUND;
  return crc32_slice16(~remainder, bytes, length % ROUND);
}

}  // namespace upgrade_info::detail
