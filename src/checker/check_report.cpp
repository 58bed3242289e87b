#include "checker/check_report.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "checker/json_text.h"
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

// The checksum's verdict, as a line gives it.
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

// The reason of a checksum's verdict in JSON: a word that stays as it is
// whatever the lines say, or null for a file that verifies.
std::string_view json_reason(const checked_file& checked) {
  if (checked.failure) {
    return R"("unreadable")";
  }
  if (checked.writes_itself) {
    return R"("output-is-this-file")";
  }
  switch (checked.result) {
    case verdict::bad_checksum_line:
      return R"("bad-checksum-line")";
    case verdict::no_magic_line:
      return R"("no-magic-line")";
    case verdict::checksum_mismatch:
      return R"("checksum-mismatch")";
    case verdict::zero_in_content:
      return R"("zero-in-content")";
    case verdict::crlf_line_ends:
      return R"("cr-lf-line-ends")";
    case verdict::verified:
      break;
  }
  return "null";
}

// How the content compares with the notes, as a line gives it.
std::string source_verdict_of(const checked_file& checked) {
  if (!checked.source) {
    return "NOT COMPARED";
  }
  const source_match& match = *checked.source;
  return match.differs ? "DIFFERS (offset " + std::to_string(match.offset) +
                             ", line " + std::to_string(match.line) + ")"
                       : "OK";
}

// A checksum as bootloaders and device consoles show it: eight
// hexadecimal digits.
std::string hexadecimal(std::uint32_t value) {
  constexpr std::string_view DIGITS = "0123456789abcdef";
  std::string text(8, '0');
  for (auto digit = text.rbegin(); digit != text.rend(); ++digit) {
    *digit = DIGITS[value & 0xF];
    value >>= 4;
  }
  return text;
}

// A listing's columns before the name, in order: their headers, and their
// widths, the text right-aligned where the width is positive and
// left-aligned where it is negative. The last is there with --source only.
struct column {
  std::string_view header;
  int width;
};
constexpr column COLUMNS[] = {
    {"stored", 10}, {"hex", 8},       {"computed", 10}, {"hex", 8},
    {"size", 20},   {"verdict", -29}, {"source", -7},
};

// A listing's row: `fields` in the columns, then the name, which alone may
// hold spaces.
std::string listed(const std::vector<std::string>& fields,
                   const std::string& name) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto width = static_cast<std::size_t>(std::abs(COLUMNS[i].width));
    const std::string padding(
        width > fields[i].size() ? width - fields[i].size() : 0, ' ');
    row += COLUMNS[i].width < 0 ? fields[i] + padding : padding + fields[i];
    row += ' ';
  }
  return row + name + "\n";
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

std::string cannot_keep_it(int error) {
  return std::string(
             "cannot keep its content in the temporary "
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

int check_report::notes_failed(const std::string& reason) const {
  if (!line_.status_only) {
    print(stderr, std::string(PROGRAM) + ": " + shown_name(line_.source) +
                      ": " + reason + "\n");
  }
  return ANY_FAILED;
}

bool check_report::passes(const checked_file& checked) const {
  return checked.verified() && (line_.source == nullptr ||
                                (checked.source && !checked.source->differs));
}

std::string check_report::line_of(const std::string& shown,
                                  const checked_file& checked) const {
  return shown + ": " + verdict_of(checked) +
         (line_.source != nullptr ? ", source " + source_verdict_of(checked)
                                  : "") +
         "\n";
}

std::string check_report::row_of(const std::string& shown,
                                 const checked_file& checked) const {
  const auto known = [](bool is, const std::string& text) {
    return is ? text : std::string("-");
  };
  const bool stored = checked.stored.has_value();
  const std::uint32_t stored_value = checked.stored.value_or(0);
  const bool computed = checked.computed.has_value();
  const content_checksum content =
      checked.computed.value_or(content_checksum());
  std::vector<std::string> fields = {
      known(stored, std::to_string(stored_value)),
      known(stored, hexadecimal(stored_value)),
      known(computed, std::to_string(content.value())),
      known(computed, hexadecimal(content.value())),
      known(computed, std::to_string(content.length())),
      verdict_of(checked)};
  if (line_.source != nullptr) {
    fields.emplace_back(!checked.source           ? "-"
                        : checked.source->differs ? "DIFFERS"
                                                  : "OK");
  }
  return listed(fields, shown);
}

std::string check_report::json_of(const char* name,
                                  const checked_file& checked) const {
  const auto number = [](bool known, std::uint64_t value) {
    return known ? std::to_string(value) : std::string("null");
  };
  const auto text = [](bool known, const std::string& value) {
    return known ? "\"" + value + "\"" : std::string("null");
  };
  const bool stored = checked.stored.has_value();
  const std::uint32_t stored_value = checked.stored.value_or(0);
  const bool computed = checked.computed.has_value();
  const content_checksum content =
      checked.computed.value_or(content_checksum());
  std::string json =
      "{\"name\":" + json_string(name) + ",\"verdict\":\"" +
      (checked.verified() ? "OK" : "FAILED") +
      "\",\"reason\":" + std::string(json_reason(checked)) +
      ",\"stored\":" + number(stored, stored_value) +
      ",\"stored_text\":" + text(stored, std::to_string(stored_value)) +
      ",\"stored_hex\":" + text(stored, hexadecimal(stored_value)) +
      ",\"computed\":" + number(computed, content.value()) +
      ",\"computed_hex\":" + text(computed, hexadecimal(content.value())) +
      ",\"size\":" + number(computed, content.length());
  if (line_.source != nullptr) {
    const bool differs = checked.source && checked.source->differs;
    const source_match match = checked.source.value_or(source_match());
    json += ",\"source\":" +
            std::string(!checked.source ? "null"
                        : differs       ? "\"DIFFERS\""
                                        : "\"OK\"") +
            ",\"source_offset\":" + number(differs, match.offset) +
            ",\"source_line\":" + number(differs, match.line);
  }
  return json + "}\n";
}

void check_report::add(const char* name, const checked_file& checked) {
  ++files_;
  const bool passed = passes(checked);
  if (!passed) {
    ++failed_;
  }
  if (line_.status_only || (passed && (line_.quiet || line_.extract))) {
    return;
  }
  const std::string shown = shown_name(name);
  if (checked.failure || checked.notes_failure) {
    // After every line before it, also where both streams go to one place.
    std::fflush(stdout);
  }
  if (checked.failure) {
    print(stderr,
          std::string(PROGRAM) + ": " + shown + ": " + *checked.failure + "\n");
  }
  if (checked.notes_failure) {
    print(stderr, std::string(PROGRAM) + ": " + shown_name(line_.source) +
                      ": " + *checked.notes_failure + "\n");
  }
  if (line_.json) {
    print(lines_, json_of(name, checked));
    return;
  }
  if (!line_.list) {
    print(lines_, line_of(shown, checked));
    return;
  }
  if (!header_printed_) {
    std::vector<std::string> headers;
    for (std::size_t i = 0; i < (line_.source != nullptr ? 7u : 6u); ++i) {
      headers.emplace_back(COLUMNS[i].header);
    }
    print(lines_, listed(headers, "name"));
    header_printed_ = true;
  }
  print(lines_, row_of(shown, checked));
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
