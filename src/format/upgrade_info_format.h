#ifndef UPGRADE_INFO_FORMAT_UPGRADE_INFO_FORMAT_H_
#define UPGRADE_INFO_FORMAT_UPGRADE_INFO_FORMAT_H_

// An upgrade-info file is three pieces, with nothing before, between or after:
//
//   CRC:<checksum in decimal>\n      the checksum line
//   MAGIC_LINE                       49 fixed bytes
//   <content>                        the text, exactly as read
//
// The checksum is the CRC-32 of everything after the checksum line.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace upgrade_info {

inline constexpr std::string_view MAGIC_LINE =
    "MagicString:c016dcd6-cdeb-45df-9fd0-e821bf0e1e62\n";
static_assert(MAGIC_LINE.size() == 49);

// "CRC:", 10 digits and a line feed.
inline constexpr std::size_t LONGEST_CHECKSUM_LINE = 15;

// The content an input gives: its bytes up to, not including, the first
// zero byte. Whatever follows a zero byte is left out of the file.
std::span<const unsigned char> content_of(std::span<const unsigned char> input);

// Whether an input that begins with `start` is UTF-16 text (it begins with
// the byte-order mark FF FE or FE FF), as Windows PowerShell 5.1 and
// Notepad's "Unicode" write it: its zero bytes would cut it after a
// character or two, so it is refused rather than wrapped.
bool is_utf16_text(std::span<const unsigned char> start);

// The checksum of MAGIC_LINE followed by a content that comes in pieces.
class content_checksum {
 public:
  void add(std::span<const unsigned char> piece);
  std::uint32_t value() const { return value_; }
  std::uint64_t length() const { return length_; }

 private:
  std::uint32_t value_ = MAGIC_LINE_CHECKSUM;
  std::uint64_t length_ = 0;  // of the content so far

  static constexpr std::uint32_t MAGIC_LINE_CHECKSUM = 3497001744;
};

// "CRC:", `checksum` in unsigned decimal without leading zeros, a line feed,
// then MAGIC_LINE: everything before the content.
std::string upgrade_info_head(std::uint32_t checksum);

// What a file holds, judged against the format: whether it is exactly what
// the tool writes.
enum class verdict {
  verified,
  bad_checksum_line,  // not "CRC:", 1 to 10 digits (no leading zero, at
                      // most 4294967295) and a line feed
  no_magic_line,      // MAGIC_LINE does not follow the checksum line
  checksum_mismatch,  // the checksum of magic line and content differs
  zero_in_content,    // the content holds a zero byte, which the tool cuts
  crlf_line_ends,     // it would verify were each CR LF an LF: it went
                      // through a text-mode output, as on Windows
};

// A few words for a verdict other than verified, as "checksum mismatch".
std::string_view verdict_reason(verdict result);

// Judges a file as its bytes arrive, so that a file that is no upgrade-info
// file is known as soon as its first bytes say so. A checksum line that ends
// in CR LF is judged on: the rest with each CR LF read as an LF, to tell
// a file that went through a text-mode output.
class upgrade_info_parser {
 public:
  // Takes the next bytes of the file; returns those of them that are
  // content of a file that may verify, the rest being the checksum line and
  // the magic line.
  std::span<const unsigned char> take(std::span<const unsigned char> bytes);

  // Whether the file is known to fail whatever follows.
  bool decided() const { return decided_; }
  // The verdict on the whole file, once all of it was taken.
  verdict finish() const;

  // What the file's checksum line says, once it was read and valid.
  std::optional<std::uint32_t> stored() const;
  // The checksum and length of the content taken so far, once the magic
  // line was read (with LF line ends where the checksum line ended in CR
  // LF); nothing for a file decided before it.
  std::optional<content_checksum> computed() const;

 private:
  enum class stage { checksum_line, magic_line, content };

  std::span<const unsigned char> take_checksum_line(
      std::span<const unsigned char> bytes);
  std::span<const unsigned char> take_magic_line(
      std::span<const unsigned char> bytes);
  // `bytes` with each CR LF an LF, a CR at their end held for what follows.
  std::span<const unsigned char> with_lf_line_ends(
      std::span<const unsigned char> bytes);

  stage stage_ = stage::checksum_line;
  bool decided_ = false;
  verdict verdict_ = verdict::bad_checksum_line;
  std::string head_;  // the piece being read before the content
  std::uint32_t expected_ = 0;
  content_checksum checksum_;
  bool zero_seen_ = false;
  bool crlf_ = false;     // the checksum line ended in CR LF
  bool held_cr_ = false;  // a CR at the end of the last bytes taken
  std::string lf_bytes_;  // the last bytes taken, with LF line ends
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_FORMAT_UPGRADE_INFO_FORMAT_H_
