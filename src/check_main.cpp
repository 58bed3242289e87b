// upgrade-info-check [OPTION]... [FILE]...: verifies upgrade-info files.

#include <cstdio>
#include <string>
#include <string_view>

#include "check_command_line.h"
#include "input_reader.h"
#include "named_stream.h"
#include "upgrade_info_format.h"

namespace {

using namespace upgrade_info;

constexpr const char* PROGRAM = "upgrade-info-check";
constexpr int ANY_FAILED = 1;
constexpr int USAGE_ERROR = 2;

// What checking one file found; `contents` holds the bytes the verdict
// points into.
struct checked_file {
  bool readable = false;
  input_contents contents;
  parsed_upgrade_info parsed;

  bool verified() const {
    return readable && parsed.result == verdict::verified;
  }
  std::string_view reason() const {
    return readable ? verdict_reason(parsed.result) : "cannot read";
  }
};

checked_file check_file(const char* name) {
  checked_file checked;
  std::FILE* stream = stream_try_open_by_name(name);
  if (stream == nullptr) {
    return checked;
  }
  checked.contents = read_whole_stream(stream);
  stream_release(stream);
  const read_status status = checked.contents.status;
  checked.readable = status == read_status::ok || status == read_status::empty;
  if (checked.readable) {
    checked.parsed = parse_upgrade_info(checked.contents.bytes());
  }
  return checked;
}

// The results so far, and the exit status they make.
struct tally {
  std::size_t files = 0;
  std::size_t failed = 0;

  int exit_status() const { return failed == 0 ? 0 : ANY_FAILED; }
};

// Flushes standard output; false, said on standard error, when anything
// written to it failed.
bool standard_output_written() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return true;
  }
  std::fprintf(stderr, "%s: failed writing standard output\n", PROGRAM);
  return false;
}

// A name as a line shows it: one holding a line feed or a backslash is
// escaped as sha256sum does (the line starts with a backslash, and they
// are written \n and \\), so that no name can fake a line of its own.
std::string shown_name(std::string_view name) {
  if (name.find_first_of("\n\\") == std::string_view::npos) {
    return std::string(name);
  }
  std::string shown = "\\";
  for (const char c : name) {
    shown += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  }
  return shown;
}

}  // namespace

int main(int argc, char* argv[]) {
  const check_command_line line = parse_check_command_line(argc, argv);
  if (!line.error.empty()) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                 PROGRAM, line.error.c_str(), PROGRAM);
    return USAGE_ERROR;
  }
  if (line.help || line.version) {
    if (line.help) {
      std::fputs(CHECK_USAGE, stdout);
    } else {
      std::printf("%s %s\n", PROGRAM, UPGRADE_INFO_VERSION);
    }
    return standard_output_written() ? 0 : ANY_FAILED;
  }

  // With --extract, standard output carries the content alone, so that a
  // failure is reported on standard error.
  std::FILE* report = line.extract ? stderr : stdout;
  tally results;
  for (const char* name : line.files) {
    const checked_file checked = check_file(name);
    ++results.files;
    if (!checked.verified()) {
      ++results.failed;
      if (!line.status_only) {
        std::fprintf(report, "%s: FAILED (%.*s)\n", shown_name(name).c_str(),
                     static_cast<int>(checked.reason().size()),
                     checked.reason().data());
      }
    } else if (line.extract) {
      const auto content = checked.parsed.content;
      std::fwrite(content.data(), 1, content.size(), stdout);
    } else if (!line.quiet && !line.status_only) {
      std::printf("%s: OK\n", shown_name(name).c_str());
    }
  }
  // The summary follows every line before it, also where standard output
  // and standard error go to one place.
  std::fflush(stdout);
  if (results.failed > 0 && !line.status_only) {
    std::fprintf(stderr, "%s: %zu of %zu file%s FAILED\n", PROGRAM,
                 results.failed, results.files, results.files == 1 ? "" : "s");
  }
  if (!standard_output_written()) {
    return ANY_FAILED;
  }
  return results.exit_status();
}
