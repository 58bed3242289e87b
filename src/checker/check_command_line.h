#ifndef UPGRADE_INFO_CHECKER_CHECK_COMMAND_LINE_H_
#define UPGRADE_INFO_CHECKER_CHECK_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace upgrade_info {

// upgrade-info-check [OPTION]... [FILE]...
struct check_command_line {
  bool quiet = false;        // -q, --quiet: no OK lines
  bool status_only = false;  // -s, --status: nothing printed at all
  bool extract = false;      // -x, --extract: the content to standard output
  bool list = false;         // -l, --list: each file's checksums and size
  bool json = false;         // --json: a JSON object a file
  bool help = false;         // -h, --help
  bool version = false;      // --version
  // --source NOTES: the notes each content must be, or nullptr.
  const char* source = nullptr;
  std::vector<const char*> files;  // "-" (standard input) when none is named
  std::string error;               // why the command line is wrong, if it is
};

check_command_line parse_check_command_line(int argc, char* argv[]);

extern const char* const CHECK_USAGE;

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKER_CHECK_COMMAND_LINE_H_
