#include "checker/check_report.h"

#include <cstring>
#include <string_view>

#include "io/text_output.h"

namespace upgrade_info {

namespace {

constexpr const char* PROGRAM = "upgrade-info-check";
constexpr int ANY_FAILED = 1;
constexpr int USAGE_ERROR = 2;

// A name as a line shows it. On POSIX, one holding a line feed, a carriage
// return or a backslash is escaped as sha256sum does (the line starts with
// a backslash, and they are written \n, \r and \\), so that no name can
// print what reads as a line of its own. Windows names hold none of the
// first two, and the third is their separator: they print as typed.
std::string shown_name(std::string_view name) {
#ifdef _WIN32
  return std::string(name);
#else
  if (name.find_first_of("\n\r\\") == std::string_view::npos) {
    return std::string(name);
  }
  std::string shown = "\\";
  for (const char c : name) {
    shown += c == '\n'   ? "\\n"
             : c == '\r' ? "\\r"
             : c == '\\' ? "\\\\"
                         : std::string(1, c);
  }
  return shown;
#endif
}

std::string verdict_of(const checked_file& checked) {
  if (checked.verified()) {
    return "OK";
  }
  const std::string_view reason = checked.failure ? "cannot read"
                                  : checked.writes_itself
                                      ? "standard output is this file"
                                      : verdict_reason(checked.result);
  return "FAILED (" + std::string(reason) + ")";
}

// A listing's columns: stored and computed checksums, the content's size,
// the verdict, then the name, which alone may hold spaces; "-" for what is
// not known.
std::string listed(const std::string& stored, const std::string& computed,
                   const std::string& size, const std::string& verdict,
                   const std::string& name) {
  const auto right = [](const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') +
           text;
  };
  const auto left = [](const std::string& text, std::size_t width) {
    return text +
           std::string(width > text.size() ? width - text.size() : 0, ' ');
  };
  return right(stored, 10) + " " + right(computed, 10) + " " + right(size, 20) +
         " " + left(verdict, 29) + " " + name + "\n";
}

// Flushes standard output; false, said on standard error, when anything
// written to it failed.
bool standard_output_written() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return true;
  }
  print(stderr, std::string(PROGRAM) + ": failed writing standard output\n");
  return false;
}

}  // namespace

std::string no_room_to_keep_it(int error) {
  return std::string(
             "no room to keep its content in the temporary "
             "directory: ") +
         std::strerror(error);
}

check_report::check_report(const check_command_line& line)
    : line_(line), lines_(line.extract ? stderr : stdout) {}

int check_report::usage_error() const {
  const std::string program(PROGRAM);
  print(stderr, program + ": " + line_.error + "\nTry '" + program +
                    " --help' for more information.\n");
  return USAGE_ERROR;
}

int check_report::help_or_version() const {
  print(stdout, line_.help
                    ? std::string(CHECK_USAGE)
                    : std::string(PROGRAM) + " " + UPGRADE_INFO_VERSION + "\n");
  return standard_output_written() ? 0 : ANY_FAILED;
}

void check_report::add(const char* name, const checked_file& checked) {
  ++files_;
  failed_ += checked.verified() ? 0 : 1;
  if (line_.status_only || (line_.quiet && checked.verified()) ||
      (line_.extract && checked.verified())) {
    return;
  }
  const std::string shown = shown_name(name);
  if (checked.failure) {
    // After every line before it, also where both streams go to one place.
    std::fflush(stdout);
    print(stderr,
          std::string(PROGRAM) + ": " + shown + ": " + *checked.failure + "\n");
  }
  if (!line_.list) {
    print(lines_, shown + ": " + verdict_of(checked) + "\n");
    return;
  }
  if (!header_printed_) {
    print(lines_, listed("stored", "computed", "size", "verdict", "name"));
    header_printed_ = true;
  }
  const auto number = [](bool known, std::uint64_t value) {
    return known ? std::to_string(value) : std::string("-");
  };
  const bool computed = checked.computed.has_value();
  print(lines_,
        listed(number(checked.stored.has_value(), checked.stored.value_or(0)),
               number(computed, computed ? checked.computed->value() : 0),
               number(computed, computed ? checked.computed->length() : 0),
               verdict_of(checked), shown));
}

int check_report::finish() {
  // The summary follows every line before it, also where standard output
  // and standard error go to one place.
  std::fflush(stdout);
  if (failed_ > 0 && !line_.status_only) {
    print(stderr, std::string(PROGRAM) + ": " + std::to_string(failed_) +
                      " of " + std::to_string(files_) + " file" +
                      (files_ == 1 ? "" : "s") + " FAILED\n");
  }
  if (!standard_output_written()) {
    return ANY_FAILED;
  }
  return failed_ == 0 ? 0 : ANY_FAILED;
}

}  // namespace upgrade_info
