#ifndef UPGRADE_INFO_CHECKER_CHECK_REPORT_H_
#define UPGRADE_INFO_CHECKER_CHECK_REPORT_H_

// What upgrade-info-check prints, and the exit status it ends with, all in
// one place: a line a file (or a row of a listing), the system's reason
// for a file that could not be read, and a summary.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "checker/check_command_line.h"
#include "format/upgrade_info_format.h"

namespace upgrade_info {

// What checking one file found.
struct checked_file {
  // Why it could not be read, in the system's words; nothing when it was.
  std::optional<std::string> failure;
  bool writes_itself = false;  // standard output is the file being checked
  verdict result = verdict::bad_checksum_line;
  std::optional<std::uint32_t> stored;
  std::optional<content_checksum> computed;

  bool verified() const {
    return !failure && !writes_itself && result == verdict::verified;
  }
};

// Why a content could not be kept in a spill file, with the system's
// reason for `error`.
std::string no_room_to_keep_it(int error);

class check_report {
 public:
  explicit check_report(const check_command_line& line);

  int usage_error() const;
  int help_or_version() const;
  void add(const char* name, const checked_file& checked);
  // The summary, and the exit status.
  int finish();

 private:
  const check_command_line& line_;
  // Where a file's line goes: standard output, or standard error when
  // standard output carries an extracted content.
  std::FILE* lines_;
  std::size_t files_ = 0;
  std::size_t failed_ = 0;
  bool header_printed_ = false;
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKER_CHECK_REPORT_H_
