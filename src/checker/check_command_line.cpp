#include "checker/check_command_line.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "startup/program.h"

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
    "  -l, --list      list each FILE's stored and computed checksums (in\n"
    "                  decimal and hexadecimal), the size of its content and\n"
    "                  its verdict\n"
    "      --source=NOTES\n"
    "                  also tell whether each FILE's content is exactly\n"
    "                  NOTES as upgrade-info reads them (- for standard\n"
    "                  input), and where it first differs\n"
    "      --json      print a JSON object a FILE, one a line\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the version and exit\n"
    "\n"
    "Exit status: 0 when every FILE verifies (and matches NOTES), 1 when any\n"
    "does not, 2 when the command line is wrong.\n";

namespace {

struct option {
  char letter;  // '\0' when the option has no short form
  std::string_view name;
  bool check_command_line::*flag;          // nullptr for one with a value
  const char* check_command_line::*value;  // nullptr for a flag
};

constexpr option OPTIONS[] = {
    {'q', "--quiet", &check_command_line::quiet, nullptr},
    {'s', "--status", &check_command_line::status_only, nullptr},
    {'x', "--extract", &check_command_line::extract, nullptr},
    {'l', "--list", &check_command_line::list, nullptr},
    {'\0', "--source", nullptr, &check_command_line::source},
    {'\0', "--json", &check_command_line::json, nullptr},
    {'h', "--help", &check_command_line::help, nullptr},
    {'\0', "--version", &check_command_line::version, nullptr},
};

// The option a long option's `name` stands for, whole or by a prefix that
// only it has, as getopt_long takes them; nullptr, with the error, when
// none does.
const option* long_option(std::string_view name, std::string& error) {
  const option* found = nullptr;
  for (const option& candidate : OPTIONS) {
    if (candidate.name == name) {
      return &candidate;
    }
    if (candidate.name.starts_with(name)) {
      if (found != nullptr) {
        error = "option '" + std::string(name) + "' is ambiguous";
        return nullptr;
      }
      found = &candidate;
    }
  }
  if (found == nullptr) {
    error = "unknown option '" + std::string(name) + "'";
  }
  return found;
}

// Takes the long option argv[at], and its value, which is either after an
// equals sign or the next argument, moving `at` past what it took; the
// error when it cannot be taken.
std::string take_long_option(check_command_line& line, int argc, char* argv[],
                             int& at) {
  const std::string_view arg = argv[at];
  const std::size_t equals = arg.find('=');
  std::string error;
  const option* found = long_option(arg.substr(0, equals), error);
  if (found == nullptr) {
    return error;
  }
  const std::string name(found->name);
  if (found->flag != nullptr) {
    if (equals != std::string_view::npos) {
      return "option '" + name + "' takes no value";
    }
    line.*found->flag = true;
  } else if (equals != std::string_view::npos) {
    line.*found->value = argv[at] + equals + 1;
  } else if (at + 1 < argc) {
    line.*found->value = argv[++at];
  } else {
    return "option '" + name + "' requires a value";
  }
  return {};
}

}  // namespace

check_command_line parse_check_command_line(int argc, char* argv[]) {
  check_command_line line;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_ended && asks_for_help(argv[i])) {
      line.help = true;
    } else if (options_ended || arg == "-" || !arg.starts_with("-")) {
      line.files.push_back(argv[i]);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg.starts_with("--")) {
      line.error = take_long_option(line, argc, argv, i);
      if (!line.error.empty()) {
        return line;
      }
    } else {
      for (const char letter : arg.substr(1)) {
        const option* found =
            std::find_if(std::begin(OPTIONS), std::end(OPTIONS),
                         [&](const option& o) { return o.letter == letter; });
        if (found == std::end(OPTIONS)) {
          // A hyphen among the letters would read as "--" named so.
          line.error = letter == '-'
                           ? "unknown option '-' in '" + std::string(arg) + "'"
                           : std::string("unknown option '-") + letter + "'";
          return line;
        }
        line.*found->flag = true;
      }
    }
  }
  if (line.files.empty()) {
    line.files.push_back("-");
  }
  const auto names_stdin = [](const char* name) {
    return std::string_view(name) == "-";
  };
  if (line.extract && line.files.size() != 1) {
    line.error = "--extract takes exactly one file";
  } else if (line.extract && line.list) {
    line.error = "--extract and --list exclude each other";
  } else if (line.extract && line.source != nullptr) {
    // What would go out is the notes themselves.
    line.error = "--extract and --source exclude each other";
  } else if (line.source != nullptr && names_stdin(line.source) &&
             std::any_of(line.files.begin(), line.files.end(), names_stdin)) {
    line.error = "standard input cannot be both the notes and a file";
  }
  return line;
}

}  // namespace upgrade_info
