#ifndef UPGRADE_INFO_UPGRADE_INFO_FORMAT_H_
#define UPGRADE_INFO_UPGRADE_INFO_FORMAT_H_

// An upgrade-info file is three pieces, with nothing before, between or after:
//
//   CRC:<checksum in decimal>\n      the checksum line
//   MAGIC_LINE                       49 fixed bytes
//   <content>                        the text, exactly as read
//
// The checksum is the CRC-32 of everything after the checksum line.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace upgrade_info {

inline constexpr std::string_view MAGIC_LINE =
    "MagicString:c016dcd6-cdeb-45df-9fd0-e821bf0e1e62\n";
static_assert(MAGIC_LINE.size() == 49);

// The content an input gives: its bytes up to, not including, the first
// zero byte. Whatever follows a zero byte is left out of the file.
std::span<const unsigned char> content_of(std::span<const unsigned char> input);

// The CRC-32 of MAGIC_LINE followed by `content`, of any size.
std::uint32_t upgrade_info_checksum(std::span<const unsigned char> content);

// "CRC:", `checksum` in unsigned decimal without leading zeros, a line feed.
std::string checksum_line(std::uint32_t checksum);

// What a file holds, judged against the format: whether it is exactly what
// the tool writes, and if so its checksum and content.
enum class verdict {
  verified,
  bad_checksum_line,  // not "CRC:", 1 to 10 digits (no leading zero, at
                      // most 4294967295) and a line feed
  no_magic_line,      // MAGIC_LINE does not follow the checksum line
  checksum_mismatch,  // the checksum of magic line and content differs
  zero_in_content,    // the content holds a zero byte, which the tool cuts
};

struct parsed_upgrade_info {
  verdict result = verdict::bad_checksum_line;
  std::uint32_t checksum = 0;
  std::span<const unsigned char> content;  // when verified
};

parsed_upgrade_info parse_upgrade_info(std::span<const unsigned char> file);

// A few words for a verdict other than verified, as "checksum mismatch".
std::string_view verdict_reason(verdict result);

// Writes the three pieces to `output`, each in one call. Returns false when
// a write came up short; the stream's own flush and close are the caller's.
bool write_upgrade_info(std::FILE* output, std::uint32_t checksum,
                        std::span<const unsigned char> content);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_UPGRADE_INFO_FORMAT_H_
