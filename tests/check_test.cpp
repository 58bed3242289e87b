// upgrade-info-check, run as its users run it: on files the tool wrote, on
// files tampered with, with each option, from files and standard input.

#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "format/upgrade_info_format.h"
#include "tool_fixture.h"

namespace upgrade_info::testing {
namespace {

namespace fs = std::filesystem;

class checker : public upgrade_info_tool {
 protected:
  // Wraps `input` with the tool into `name`.
  void wrap(const std::string& input, const std::string& name) {
    dir.write("input", input);
    expect_success(run({"input", name}));
  }

  static void expect_report(const run_result& result, int status,
                            std::string_view out, std::string_view err) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, as_on_standard_stream(out));
    EXPECT_EQ(result.err, as_on_standard_stream(err));
  }
};

TEST_F(checker, verifies_and_extracts_whatever_the_tool_wrote) {
  const std::string contents[] = {"", "x", random_text(300, 7),
                                  random_text(16 << 20, 8)};
  for (const std::string& content : contents) {
    SCOPED_TRACE(content.size());
    // An empty content comes from an input whose first byte is zero.
    wrap(content.empty() ? std::string(1, '\0') : content, "named.ui");
    expect_report(run_checker({"named.ui"}), 0, "named.ui: OK\n", "");
    // The content goes out exactly, on every platform.
    const run_result extracted = run_checker({"--extract", "named.ui"});
    EXPECT_EQ(extracted.status, 0);
    EXPECT_EQ(extracted.out, content);
  }
}

// Written through standard output, which on Windows is a text stream, an
// upgrade-info file has CR LF line ends; a checker that reads bytes tells.
TEST_F(checker, tells_a_file_written_through_standard_output_on_windows) {
  wrap("line one\nline two\n", "named.ui");
  run_options to_stdout;
  to_stdout.stdout_file = dir / "redirected.ui";
  EXPECT_EQ(run({"input", "-"}, to_stdout).status, 0);
  expect_report(
      run_checker({"redirected.ui"}), is_windows_build() ? 1 : 0,
      is_windows_build() ? "redirected.ui: FAILED (CR LF line ends)\n"
                         : "redirected.ui: OK\n",
      is_windows_build() ? "upgrade-info-check: 1 of 1 file FAILED\n" : "");
}

// The same bytes get the same verdict from every platform's checker.
TEST_F(checker, judges_bytes_alike_on_every_platform) {
  const auto with_crlf = [](const std::string& file) {
    std::string copy;
    for (const char c : file) {
      copy += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return copy;
  };
  const struct {
    std::string name;
    std::string bytes;
    std::string verdict;
  } files[] = {
      {"crlf.ui", wrapped("line\r\nmore\r\n"), "OK"},
      {"cr-cr-lf.ui", wrapped("line\r\r\nmore"), "OK"},
      {"ctrl-z.ui", wrapped("before\x1A after\n"), "OK"},
      {"after-ctrl-z.ui", wrapped("text\n") + "\x1A appended",
       "FAILED (checksum mismatch)"},
      {"crlf-copy.ui", with_crlf(wrapped("line\nmore\n")),
       "FAILED (CR LF line ends)"},
      {"crlf-copy-of-crlf.ui", with_crlf(wrapped("line\r\nmore")),
       "FAILED (CR LF line ends)"},
      {"crlf-copy-altered.ui", with_crlf(wrapped("line\nmore\n")) + "x",
       "FAILED (bad checksum line)"},
  };
  std::vector<std::string> names;
  std::string report;
  for (const auto& file : files) {
    dir.write(file.name, file.bytes);
    names.push_back(file.name);
    report += file.name + ": " + file.verdict + "\n";
  }
  expect_report(run_checker(names), 1, report,
                "upgrade-info-check: 4 of 7 files FAILED\n");
  const run_result extracted = run_checker({"-x", "crlf.ui"});
  EXPECT_EQ(extracted.out, "line\r\nmore\r\n");
}

TEST_F(checker, reports_each_tampered_file_with_its_reason) {
  wrap("release notes\n", "good.ui");
  const std::string good = dir.read("good.ui");
  const std::size_t line_end = good.find('\n') + 1;
  const std::string line = good.substr(0, line_end);
  const std::string magic(MAGIC_LINE);
  const std::string content = good.substr(line_end + magic.size());
  std::string flipped = good;
  flipped[good.size() - 3] ^= 0x20;
  std::string digit = good;  // the last digit, so the value stays in range
  char& last_digit = digit[line_end - 2];
  last_digit = last_digit == '9' ? '1' : static_cast<char>(last_digit + 1);
  std::string altered = good;
  altered[line_end + 20] = 'X';

  const std::vector<std::pair<std::string, std::string>> files = {
      {"good.ui", good},
      {"flipped.ui", flipped},
      {"digit.ui", digit},
      // Would verify but for its leading zero.
      {"leading-zero.ui",
       "CRC:0123456789\n" + magic + text_with_checksum(20, 123456789)},
      {"too-big.ui", "CRC:4294967296\n" + magic + content},
      {"no-magic.ui", line + content},
      {"altered-magic.ui", altered},
      {"truncated.ui", good.substr(0, good.size() - 4)},
      {"truncated-line.ui", good.substr(0, 7)},
      {"empty.ui", ""},
      {"other.ui", "#!/bin/sh\necho not an upgrade-info file\n"},
  };
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) {
    dir.write(name, bytes);
    names.push_back(name);
  }
  names.push_back("missing.ui");
  fs::create_directory(dir / "folder");
  names.push_back("folder");

  expect_report(run_checker(names), 1,
                "good.ui: OK\n"
                "flipped.ui: FAILED (checksum mismatch)\n"
                "digit.ui: FAILED (checksum mismatch)\n"
                "leading-zero.ui: FAILED (bad checksum line)\n"
                "too-big.ui: FAILED (bad checksum line)\n"
                "no-magic.ui: FAILED (no magic line)\n"
                "altered-magic.ui: FAILED (no magic line)\n"
                "truncated.ui: FAILED (checksum mismatch)\n"
                "truncated-line.ui: FAILED (bad checksum line)\n"
                "empty.ui: FAILED (bad checksum line)\n"
                "other.ui: FAILED (bad checksum line)\n"
                "missing.ui: FAILED (cannot read)\n"
                "folder: FAILED (cannot read)\n",
                "upgrade-info-check: missing.ui: No such file or directory\n"
                "upgrade-info-check: folder: " +
                    std::string(is_windows_build() ? "Permission denied"
                                                   : "Is a directory") +
                    "\nupgrade-info-check: 12 of 13 files FAILED\n");
}

TEST_F(checker, options_shape_the_report) {
  wrap("text\n", "good.ui");
  dir.write("bad.ui", "CRC:1\n");

  expect_report(run_checker({"--quiet", "good.ui", "bad.ui"}), 1,
                "bad.ui: FAILED (no magic line)\n",
                "upgrade-info-check: 1 of 2 files FAILED\n");
  expect_report(run_checker({"-q", "good.ui"}), 0, "", "");
  expect_report(run_checker({"--status", "good.ui", "bad.ui"}), 1, "", "");
  expect_report(run_checker({"-s", "good.ui"}), 0, "", "");
  // A long option by any prefix only it has, as getopt_long takes them.
  expect_report(run_checker({"--stat", "bad.ui"}), 1, "", "");
  EXPECT_EQ(run_checker({"--ext", "good.ui"}).out, "text\n");
  // Extracting writes nothing on standard output unless the file verifies.
  expect_report(run_checker({"-x", "bad.ui"}), 1, "",
                "bad.ui: FAILED (no magic line)\n"
                "upgrade-info-check: 1 of 1 file FAILED\n");

  // Standard input is read from where it stands.
  dir.write("after-a-line.ui", "a first line\n" + dir.read("good.ui"));
  run_options from_stdin;
  from_stdin.stdin_file = dir / "after-a-line.ui";
  from_stdin.stdin_offset = 13;
  expect_report(run_checker({}, from_stdin), 0, "-: OK\n", "");
  EXPECT_EQ(run_checker({"-x"}, from_stdin).out, "text\n");

  // After "--" a name that looks like an option is a file.
  dir.write("-q", dir.read("good.ui"));
  expect_report(run_checker({"--", "-q"}), 0, "-q: OK\n", "");
}

TEST_F(checker, wrong_command_lines_are_usage_errors) {
  const std::string hint =
      "Try 'upgrade-info-check --help' for more information.\n";
  expect_report(run_checker({"--frobnicate"}), 2, "",
                "upgrade-info-check: unknown option '--frobnicate'\n" + hint);
  expect_report(run_checker({"-qz", "file"}), 2, "",
                "upgrade-info-check: unknown option '-z'\n" + hint);
  expect_report(run_checker({"-q-", "file"}), 2, "",
                "upgrade-info-check: unknown option '-' in '-q-'\n" + hint);
  expect_report(
      run_checker({"--extract", "a.ui", "b.ui"}), 2, "",
      "upgrade-info-check: --extract takes exactly one file\n" + hint);

  const run_result help = run_checker({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: upgrade-info-check [OPTION]..."));
  expect_report(run_checker({"--version"}), 0,
                "upgrade-info-check " UPGRADE_INFO_VERSION "\n", "");
  run_options full;
  full.stdout_file = "/dev/full";
  for (const char* option : {"--help", "--version"}) {
    expect_report(run_checker({option}, full), 1, "",
                  "upgrade-info-check: failed writing standard output\n");
  }
}

TEST_F(checker, report_reads_true_wherever_it_goes) {
  if (is_windows_build()) {
    GTEST_SKIP() << "names with a line feed or a backslash are POSIX names";
  }
  wrap("text\n", "good.ui");
  // A name that would otherwise print a line of its own saying OK.
  const std::string forged = "bad.ui: OK\nbad.ui";
  const std::string overprinted = "fw.ui: OK\rnotes.ui";
  dir.write(forged, "not an upgrade-info file");
  dir.write(overprinted, "not an upgrade-info file");
  dir.write("back\\slash.ui", dir.read("good.ui"));
  run_options one_file;
  one_file.stderr_to_stdout = true;
  expect_report(
      run_checker({"good.ui", forged, overprinted, "back\\slash.ui"}, one_file),
      1,
      "good.ui: OK\n"
      "\\bad.ui: OK\\nbad.ui: FAILED (bad checksum line)\n"
      "\\fw.ui: OK\\rnotes.ui: FAILED (bad checksum line)\n"
      "\\back\\\\slash.ui: OK\n"
      "upgrade-info-check: 2 of 4 files FAILED\n",
      "");
}

TEST_F(checker, extract_writes_the_verified_content_or_fails_saying_why) {
  const std::string text = random_text(300000, 24);
  wrap(text, "notes.ui");
  const std::string file = dir.read("notes.ui");
  // What is verified is what goes out: a file read once, which no change
  // made meanwhile can reach.
  if (can_inject_faults()) {
    for (const char* size : {"1000", "400000"}) {
      run_options changed;
      changed.faults = {"FAULT_PATH=" + (dir / "notes.ui").string(),
                        std::string("FAULT_INPUT_RESIZE=") + size};
      const run_result extracted = run_checker({"-x", "notes.ui"}, changed);
      EXPECT_EQ(extracted.status, 0);
      EXPECT_TRUE(extracted.out == text);
      dir.write("notes.ui", file);
    }
    // A content kept in a spill file that fails to be read back.
    fs::create_directory(dir / "tmp");
    run_options failing;
    failing.stdin_bytes = file;
    failing.faults = {"TMPDIR=" + (dir / "tmp").string(),
                      "FAULT_PATH=" + (dir / "tmp").string(),
                      "FAULT_READ_EIO=2"};
    const run_result unread = run_checker({"-x"}, failing);
    EXPECT_EQ(unread.status, 1);
    EXPECT_EQ(unread.err,
              "upgrade-info-check: -: Input/output error\n"
              "-: FAILED (cannot read)\n"
              "upgrade-info-check: 1 of 1 file FAILED\n");
  }
  // Standard output that is the file itself, full, or closed.
  run_options appended;
  appended.stdout_file = dir / "notes.ui";
  appended.stdout_appends = true;
  appended.file_size_limit = 4 << 20;
  expect_report(run_checker({"-x", "notes.ui"}, appended), 1, "",
                "notes.ui: FAILED (standard output is this file)\n"
                "upgrade-info-check: 1 of 1 file FAILED\n");
  EXPECT_TRUE(dir.read("notes.ui") == file);
  dir.write("notes.ui", file);
  const std::string written =
      "upgrade-info-check: failed writing standard output\n";
  run_options full;
  full.stdout_file = "/dev/full";
  expect_report(run_checker({"-x", "notes.ui"}, full), 1, "", written);
  run_options closed;
  closed.stdin_bytes = wrapped(std::string(std::size_t{1} << 17, 'a'));
  closed.stdout_closed = true;
  expect_report(run_checker({"-x"}, closed), 1, "", written);
}

TEST_F(checker, lists_what_each_file_holds) {
  wrap("release notes\n", "good.ui");
  const std::string good = dir.read("good.ui");
  dir.write("tampered.ui", good + "x");
  const std::size_t line_end = good.find('\n') + 1;
  const std::string stored = good.substr(4, line_end - 5);
  const std::string covered = good.substr(line_end) + "x";
  const std::string computed = std::to_string(crc32_z(
      0, reinterpret_cast<const Bytef*>(covered.data()), covered.size()));
  const auto row = [](std::string first, std::string second, std::string size,
                      std::string verdict, std::string name) {
    first.insert(0, 10 - first.size(), ' ');
    second.insert(0, 10 - second.size(), ' ');
    size.insert(0, 20 - size.size(), ' ');
    verdict.resize(29, ' ');
    return first + " " + second + " " + size + " " + verdict + " " + name +
           "\n";
  };
  // A copy with CR LF line ends has its stored checksum, but no content of
  // its own bytes to show.
  std::string crlf;
  for (const char c : good) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  dir.write("crlf.ui", crlf);
  expect_report(
      run_checker(
          {"--list", "good.ui", "tampered.ui", "crlf.ui", "missing.ui"}),
      1,
      row("stored", "computed", "size", "verdict", "name") +
          row(stored, stored, "14", "OK", "good.ui") +
          row(stored, computed, "15", "FAILED (checksum mismatch)",
              "tampered.ui") +
          row(stored, "-", "-", "FAILED (CR LF line ends)", "crlf.ui") +
          row("-", "-", "-", "FAILED (cannot read)", "missing.ui"),
      "upgrade-info-check: missing.ui: No such file or directory\n"
      "upgrade-info-check: 3 of 4 files FAILED\n");
  // A reason comes just before its row, also where both go to one file.
  run_options one_file;
  one_file.stderr_to_stdout = true;
  expect_report(
      run_checker({"--list", "good.ui", "missing.ui"}, one_file), 1,
      row("stored", "computed", "size", "verdict", "name") +
          row(stored, stored, "14", "OK", "good.ui") +
          "upgrade-info-check: missing.ui: No such file or directory\n" +
          row("-", "-", "-", "FAILED (cannot read)", "missing.ui") +
          "upgrade-info-check: 1 of 2 files FAILED\n",
      "");
}

}  // namespace
}  // namespace upgrade_info::testing
