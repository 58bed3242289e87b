#ifndef UPGRADE_INFO_CHECKSUM_CRC32_H_
#define UPGRADE_INFO_CHECKSUM_CRC32_H_

#include <cstdint>

namespace upgrade_info {

// Extends `crc`, a CRC-32 of IEEE 802.3 (CRC-32/ISO-HDLC), over `length`
// bytes and returns the result. The required initial value is 0; calls
// chain, so accumulating over A and then B gives the checksum of A then B.
std::uint32_t crc32_accumulate(std::uint32_t crc, const unsigned char* bytes,
                               std::uint32_t length);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKSUM_CRC32_H_
