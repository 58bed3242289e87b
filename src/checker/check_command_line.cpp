#include "checker/check_command_line.h"

#include <string_view>

namespace upgrade_info {

const char* const CHECK_USAGE =
    "Usage: upgrade-info-check [OPTION]... [FILE]...\n"
    "Verifies upgrade-info files: each FILE must be exactly what upgrade-info\n"
    "writes, with a checksum that matches its content. With no FILE, or when\n"
    "FILE is -, reads standard input.\n"
    "\n"
    "  -q, --quiet     print no line for a file that verifies\n"
    "  -s, --status    print nothing; the exit status tells\n"
    "  -x, --extract   with one FILE, write its content to standard output\n"
    "                  if it verifies, and nothing if it does not\n"
    "  -l, --list      list each FILE's stored and computed checksums, the\n"
    "                  size of its content and its verdict\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the version and exit\n"
    "\n"
    "Exit status: 0 when every FILE verifies, 1 when any does not, 2 when the\n"
    "command line is wrong.\n";

namespace {

struct option {
  char letter;  // '\0' when the option has no short form
  std::string_view name;
  bool check_command_line::*flag;
};

constexpr option OPTIONS[] = {
    {'q', "--quiet", &check_command_line::quiet},
    {'s', "--status", &check_command_line::status_only},
    {'x', "--extract", &check_command_line::extract},
    {'l', "--list", &check_command_line::list},
    {'h', "--help", &check_command_line::help},
    {'\0', "--version", &check_command_line::version},
};

// Sets the flag of the option that `matches`; false when none does.
template <typename Predicate>
bool take_option(check_command_line& line, Predicate matches) {
  for (const option& candidate : OPTIONS) {
    if (matches(candidate)) {
      line.*candidate.flag = true;
      return true;
    }
  }
  return false;
}

// Takes the long option `arg` names, whole or by a prefix that only it
// has, as getopt_long does; the error when there is none.
std::string take_long_option(check_command_line& line, std::string_view arg) {
  if (take_option(line, [&](const option& o) { return o.name == arg; })) {
    return {};
  }
  const option* found = nullptr;
  for (const option& candidate : OPTIONS) {
    if (candidate.name.starts_with(arg)) {
      if (found != nullptr) {
        return "option '" + std::string(arg) + "' is ambiguous";
      }
      found = &candidate;
    }
  }
  if (found == nullptr) {
    return "unknown option '" + std::string(arg) + "'";
  }
  line.*found->flag = true;
  return {};
}

}  // namespace

check_command_line parse_check_command_line(int argc, char* argv[]) {
  check_command_line line;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_ended || arg == "-" || !arg.starts_with("-")) {
      line.files.push_back(argv[i]);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg.starts_with("--")) {
      line.error = take_long_option(line, arg);
      if (!line.error.empty()) {
        return line;
      }
    } else {
      for (const char letter : arg.substr(1)) {
        if (!take_option(line,
                         [&](const option& o) { return o.letter == letter; })) {
          // A hyphen among the letters would read as "--" named so.
          line.error = letter == '-'
                           ? "unknown option '-' in '" + std::string(arg) + "'"
                           : std::string("unknown option '-") + letter + "'";
          return line;
        }
      }
    }
  }
  if (line.files.empty()) {
    line.files.push_back("-");
  }
  if (line.extract && line.files.size() != 1) {
    line.error = "--extract takes exactly one file";
  }
  if (line.extract && line.list) {
    line.error = "--extract and --list exclude each other";
  }
  return line;
}

}  // namespace upgrade_info
