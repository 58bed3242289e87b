// upgrade-info-check [OPTION]... [FILE]...: verifies upgrade-info files.

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "check_command_line.h"
#include "input_reader.h"
#include "named_stream.h"
#include "program.h"
#include "replayed_input.h"
#include "stream_io.h"
#include "text_output.h"
#include "upgrade_info_format.h"

namespace upgrade_info {

namespace {

constexpr const char* PROGRAM = "upgrade-info-check";
constexpr int ANY_FAILED = 1;
constexpr int USAGE_ERROR = 2;

// What checking one file found.
struct checked_file {
  bool readable = false;
  verdict result = verdict::bad_checksum_line;

  bool verified() const { return readable && result == verdict::verified; }
  std::string_view reason() const {
    return readable ? verdict_reason(result) : "cannot read";
  }
};

// Reads a file until its verdict is decided, keeping the content in
// `content` when there is one.
checked_file check_pass(input_reader& input, replayed_input* content) {
  upgrade_info_parser parser;
  while (!parser.decided()) {
    const std::span<const unsigned char> piece = input.next();
    if (piece.empty()) {
      break;
    }
    const std::span<const unsigned char> taken = parser.take(piece);
    if (content != nullptr) {
      content->keep(taken);
    }
  }
  checked_file checked;
  checked.readable = input.status() != io_status::read_failed &&
                     input.status() != io_status::too_large &&
                     (content == nullptr || content->status() == io_status::ok);
  checked.result = parser.finish();
  return checked;
}

// With `extract`, the content is kept in a spill file, which no one else
// can change, as the file is verified, and goes to standard output from
// there once all of it is known to verify.
checked_file check_file(const char* name, bool extract) {
  std::optional<input_reader> opened =
      input_reader::try_open(name, input_form::bytes);
  if (!opened) {
    return {};
  }
  std::optional<replayed_input> content;
  if (extract) {
    content.emplace(*opened, replayed_input::source::spill);
  }
  checked_file checked = check_pass(*opened, content ? &*content : nullptr);
  if (content && checked.verified()) {
    content->start_again();
    for (auto piece = content->next(); !piece.empty();
         piece = content->next()) {
      write_all(stdout, piece.data(), piece.size());
    }
    checked.readable = content->status() == io_status::ok;
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
  print(stderr, std::string(PROGRAM) + ": failed writing standard output\n");
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

int run_program(int argc, char* argv[]) {
  const check_command_line line = parse_check_command_line(argc, argv);
  const std::string program(PROGRAM);
  if (!line.error.empty()) {
    print(stderr, program + ": " + line.error + "\nTry '" + program +
                      " --help' for more information.\n");
    return USAGE_ERROR;
  }
  if (line.help || line.version) {
    print(stdout, line.help ? std::string(CHECK_USAGE)
                            : program + " " + UPGRADE_INFO_VERSION + "\n");
    return standard_output_written() ? 0 : ANY_FAILED;
  }

  // With --extract, standard output carries the content alone, exactly as
  // it is, so that a failure is reported on standard error.
  std::FILE* report = stdout;
  if (line.extract) {
    report = stderr;
    set_binary(stdout);
  }
  tally results;
  for (const char* name : line.files) {
    const checked_file checked = check_file(name, line.extract);
    ++results.files;
    if (!checked.verified()) {
      ++results.failed;
      if (!line.status_only) {
        print(report, shown_name(name) + ": FAILED (" +
                          std::string(checked.reason()) + ")\n");
      }
    } else if (!line.extract && !line.quiet && !line.status_only) {
      print(stdout, shown_name(name) + ": OK\n");
    }
  }
  // The summary follows every line before it, also where standard output
  // and standard error go to one place.
  std::fflush(stdout);
  if (results.failed > 0 && !line.status_only) {
    print(stderr, program + ": " + std::to_string(results.failed) + " of " +
                      std::to_string(results.files) + " file" +
                      (results.files == 1 ? "" : "s") + " FAILED\n");
  }
  if (!standard_output_written()) {
    return ANY_FAILED;
  }
  return results.exit_status();
}

}  // namespace upgrade_info
