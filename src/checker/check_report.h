#ifndef UPGRADE_INFO_CHECKER_CHECK_REPORT_H_
#define UPGRADE_INFO_CHECKER_CHECK_REPORT_H_

// What upgrade-info-check prints, and the exit status it ends with, all in
// one place: a line, a row of a listing or a JSON object a file, the
// system's reason for a file that could not be read, and a summary.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "checker/check_command_line.h"
#include "checker/source_notes.h"
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
  // With --source, how the content compares with the notes; nothing where
  // it was not compared: it is not known, or the notes failed (then
  // `notes_failure` says why).
  std::optional<source_match> source;
  std::optional<std::string> notes_failure;

  bool verified() const {
    return !failure && !writes_itself && result == verdict::verified;
  }
};

// Why a content could not be kept in a spill file, with the system's
// reason for `error`.
std::string cannot_keep_it(int error);

class check_report {
 public:
  explicit check_report(const check_command_line& line);

  int usage_error() const;
  int help_or_version() const;
  // Nothing can be compared with the notes of --source, for `reason`; the
  // exit status.
  int notes_failed(const std::string& reason) const;
  void add(const char* name, const checked_file& checked);
  // The summary, and the exit status.
  int finish();

 private:
  // Whether the file passes: it verifies, and with --source it is the notes.
  bool passes(const checked_file& checked) const;
  std::string line_of(const std::string& shown,
                      const checked_file& checked) const;
  std::string row_of(const std::string& shown,
                     const checked_file& checked) const;
  std::string json_of(const char* name, const checked_file& checked) const;

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
