// upgrade-info-check, run as its users run it: on files the tool wrote, on
// files tampered with, with each option, from files and standard input.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
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

  // The lines of what went through a standard stream, without their ends.
  static std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
      if (line.ends_with('\r')) {
        line.pop_back();
      }
      lines.push_back(line);
    }
    return lines;
  }

  // `file` as a copy through a text-mode output makes it.
  static std::string with_crlf_line_ends(const std::string& file) {
    std::string copy;
    for (const char c : file) {
      copy += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return copy;
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
      {"crlf-copy.ui", with_crlf_line_ends(wrapped("line\nmore\n")),
       "FAILED (CR LF line ends)"},
      {"crlf-copy-of-crlf.ui", with_crlf_line_ends(wrapped("line\r\nmore")),
       "FAILED (CR LF line ends)"},
      {"crlf-copy-altered.ui",
       with_crlf_line_ends(wrapped("line\nmore\n")) + "x",
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

  // Each file, its bytes, its line's reason and its JSON reason word.
  const struct {
    std::string name;
    std::string bytes;
    std::string reason;
    std::string word;
  } files[] = {
      {"flipped.ui", flipped, "checksum mismatch", "checksum-mismatch"},
      {"digit.ui", digit, "checksum mismatch", "checksum-mismatch"},
      // Would verify but for its leading zero.
      {"leading-zero.ui",
       "CRC:0123456789\n" + magic + text_with_checksum(20, 123456789),
       "bad checksum line", "bad-checksum-line"},
      {"too-big.ui", "CRC:4294967296\n" + magic + content, "bad checksum line",
       "bad-checksum-line"},
      {"no-magic.ui", line + content, "no magic line", "no-magic-line"},
      {"altered-magic.ui", altered, "no magic line", "no-magic-line"},
      {"truncated.ui", good.substr(0, good.size() - 4), "checksum mismatch",
       "checksum-mismatch"},
      {"truncated-line.ui", good.substr(0, 7), "bad checksum line",
       "bad-checksum-line"},
      {"empty.ui", "", "bad checksum line", "bad-checksum-line"},
      {"other.ui", "#!/bin/sh\necho not an upgrade-info file\n",
       "bad checksum line", "bad-checksum-line"},
      {"zero.ui", wrapped(std::string("a\0b", 3)), "zero byte in content",
       "zero-in-content"},
      {"crlf.ui", with_crlf_line_ends(good), "CR LF line ends",
       "cr-lf-line-ends"},
      {"missing.ui", "", "cannot read", "unreadable"},
      {"folder", "", "cannot read", "unreadable"},
  };
  std::vector<std::string> names = {"good.ui"};
  std::string report = "good.ui: OK\n";
  for (const auto& file : files) {
    if (file.word != "unreadable") {
      dir.write(file.name, file.bytes);
    }
    names.push_back(file.name);
    report += file.name + ": FAILED (" + file.reason + ")\n";
  }
  fs::create_directory(dir / "folder");

  const std::string unread =
      "upgrade-info-check: missing.ui: No such file or directory\n"
      "upgrade-info-check: folder: " +
      std::string(is_windows_build() ? "Permission denied" : "Is a directory") +
      "\nupgrade-info-check: 14 of 15 files FAILED\n";
  expect_report(run_checker(names), 1, report, unread);
  // JSON names each reason by a word of its own.
  std::vector<std::string> json_args = {"--json"};
  json_args.insert(json_args.end(), names.begin(), names.end());
  const run_result json = run_checker(json_args);
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, as_on_standard_stream(unread));
  const std::vector<std::string> objects = lines_of(json.out);
  ASSERT_EQ(objects.size(), names.size());
  EXPECT_TRUE(objects[0].starts_with(
      R"({"name":"good.ui","verdict":"OK","reason":null,)"));
  for (std::size_t i = 1; i < objects.size(); ++i) {
    const auto& file = files[i - 1];
    EXPECT_TRUE(objects[i].starts_with(R"({"name":")" + file.name +
                                       R"(","verdict":"FAILED","reason":")" +
                                       file.word + R"(",)"))
        << objects[i];
  }
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

// --source: whether each file holds what upgrade-info makes of the notes,
// and where it first differs, beside the checksum's verdict.
TEST_F(checker, source_tells_whether_each_content_is_the_notes) {
  const std::string notes = "first line\nsecond line\nthird\n";
  dir.write("notes.txt", notes);
  expect_success(run({"notes.txt", "same.ui"}));
  dir.write("other.ui", wrapped("first line\nsecond lime\nthird\n"));
  dir.write("short.ui", wrapped("first line\n"));
  dir.write("longer.ui", wrapped(notes + "fourth\n"));
  std::string tampered = dir.read("same.ui");
  tampered.back() = '!';
  dir.write("tampered.ui", tampered);
  dir.write("bad.ui", "CRC:1\n");
  std::vector<std::string> args = {"--source",    "notes.txt", "same.ui",
                                   "other.ui",    "short.ui",  "longer.ui",
                                   "tampered.ui", "bad.ui"};
  const std::string lines =
      "same.ui: OK, source OK\n"
      "other.ui: OK, source DIFFERS (offset 20, line 2)\n"
      "short.ui: OK, source DIFFERS (offset 11, line 2)\n"
      "longer.ui: OK, source DIFFERS (offset 29, line 4)\n"
      "tampered.ui: FAILED (checksum mismatch), source DIFFERS (offset 28, "
      "line 3)\n"
      "bad.ui: FAILED (no magic line), source NOT COMPARED\n";
  const std::string summary = "upgrade-info-check: 5 of 6 files FAILED\n";
  expect_report(run_checker(args), 1, lines, summary);
  expect_report(
      run_checker({"-q", "--source", "notes.txt", "same.ui", "short.ui"}), 1,
      "short.ui: OK, source DIFFERS (offset 11, line 2)\n",
      "upgrade-info-check: 1 of 2 files FAILED\n");
  const std::vector<std::string> rows =
      lines_of(run_checker({"-l", "--source", "notes.txt", "same.ui",
                            "other.ui", "bad.ui"})
                   .out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_TRUE(rows[0].ends_with(" verdict                       source  name"));
  EXPECT_TRUE(
      rows[1].ends_with(" OK                            OK      same.ui"));
  EXPECT_TRUE(
      rows[2].ends_with(" OK                            DIFFERS other.ui"));
  EXPECT_TRUE(
      rows[3].ends_with(" FAILED (no magic line)        -       bad.ui"));
  const std::vector<std::string> objects =
      lines_of(run_checker({"--json", "--source", "notes.txt", "same.ui",
                            "other.ui", "bad.ui"})
                   .out);
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_TRUE(objects[0].ends_with(
      R"(,"source":"OK","source_offset":null,"source_line":null})"));
  EXPECT_TRUE(objects[1].ends_with(
      R"(,"source":"DIFFERS","source_offset":20,"source_line":2})"));
  EXPECT_TRUE(objects[2].ends_with(
      R"(,"source":null,"source_offset":null,"source_line":null})"));

  // Notes of which upgrade-info would wrap nothing: nothing is checked.
  dir.write("empty.txt", "");
  dir.write("utf16.txt", std::string("\xFF\xFEn\0o\0", 6));
  const struct {
    std::string notes;
    std::string reason;
  } refused[] = {
      {"missing.txt", "No such file or directory"},
      {"empty.txt", "empty, which upgrade-info refuses"},
      {"utf16.txt", "UTF-16 text, which upgrade-info refuses"},
  };
  for (const auto& [name, reason] : refused) {
    expect_report(run_checker({"--source", name, "same.ui"}), 1, "",
                  "upgrade-info-check: " + name + ": " + reason + "\n");
  }
  // Notes that fail to be read again for a file.
  if (can_inject_faults()) {
    run_options failing;
    failing.faults = {"FAULT_PATH=" + (dir / "notes.txt").string(),
                      "FAULT_READ_EIO=3"};
    expect_report(
        run_checker({"--source", "notes.txt", "same.ui"}, failing), 1,
        "same.ui: OK, source NOT COMPARED\n",
        "upgrade-info-check: notes.txt: could not be read again as they were\n"
        "upgrade-info-check: 1 of 1 file FAILED\n");
  }
}

// The notes are read as upgrade-info reads its input: on Windows CR LF as
// LF and up to a Ctrl-Z, everywhere up to a zero byte; and compared in
// pieces that meet the file's own at other offsets.
TEST_F(checker, source_reads_the_notes_as_the_tool_does) {
  dir.write("text.txt", std::string("one\r\ntwo\x1A three\0four", 20));
  expect_success(run({"text.txt", "text.ui"}));
  dir.write("bytes.ui", wrapped("one\r\ntwo\x1A three"));
  expect_report(
      run_checker({"--source", "text.txt", "text.ui", "bytes.ui"}),
      is_windows_build() ? 1 : 0,
      is_windows_build() ? "text.ui: OK, source OK\n"
                           "bytes.ui: OK, source DIFFERS (offset 3, line 1)\n"
                         : "text.ui: OK, source OK\nbytes.ui: OK, source OK\n",
      is_windows_build() ? "upgrade-info-check: 1 of 2 files FAILED\n" : "");

  const std::string big = random_text(3 << 20, 31);
  dir.write("big.txt", big);
  expect_success(run({"big.txt", "big.ui"}));
  constexpr std::size_t AT = 2500000;
  std::string altered = big;
  altered[AT] = altered[AT] == 'a' ? 'b' : 'a';
  dir.write("altered.ui", wrapped(altered));
  const std::string line =
      std::to_string(1 + std::count(big.begin(), big.begin() + AT, '\n'));
  const std::string report =
      "big.ui: OK, source OK\naltered.ui: OK, source DIFFERS (offset " +
      std::to_string(AT) + ", line " + line + ")\n";
  const std::string summary = "upgrade-info-check: 1 of 2 files FAILED\n";
  expect_report(run_checker({"--source", "big.txt", "big.ui", "altered.ui"}), 1,
                report, summary);
  run_options piped;
  piped.stdin_file = dir / "big.txt";
  piped.stdin_through_pipe = true;
  // Notes that can be read only once are kept for every file; an option by
  // a prefix, its value after an equals sign.
  expect_report(run_checker({"--sou=-", "big.ui", "altered.ui"}, piped), 1,
                report, summary);
}

TEST_F(checker, wrong_command_lines_are_usage_errors) {
  const std::string hint =
      "Try 'upgrade-info-check --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } wrong[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-qz", "file"}, "unknown option '-z'"},
      {{"-q-", "file"}, "unknown option '-' in '-q-'"},
      // --status and --source share their first letters.
      {{"--s", "file"}, "option '--s' is ambiguous"},
      {{"--list=yes", "file"}, "option '--list' takes no value"},
      {{"file", "--source"}, "option '--source' requires a value"},
      {{"--extract", "a.ui", "b.ui"}, "--extract takes exactly one file"},
      {{"-x", "-l", "a.ui"}, "--extract and --list exclude each other"},
      {{"-x", "--source", "notes.txt", "a.ui"},
       "--extract and --source exclude each other"},
      {{"--source", "-"}, "standard input cannot be both the notes and a file"},
      {{"--source=-", "a.ui", "-"},
       "standard input cannot be both the notes and a file"},
  };
  for (const auto& [args, error] : wrong) {
    SCOPED_TRACE(error);
    expect_report(run_checker(args), 2, "",
                  "upgrade-info-check: " + error + "\n" + hint);
  }

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
  // There the JSON object goes to standard error too.
  EXPECT_TRUE(run_checker({"-x", "--json", "notes.ui"}, appended)
                  .err.starts_with(R"({"name":"notes.ui","verdict":"FAILED",)"
                                   R"("reason":"output-is-this-file",)"));
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

TEST_F(checker, lists_what_each_file_holds_for_people_and_for_programs) {
  wrap("release notes\n", "good.ui");
  const std::string good = dir.read("good.ui");
  dir.write("tampered.ui", good + "x");
  const std::size_t line_end = good.find('\n') + 1;
  const std::string stored = good.substr(4, line_end - 5);
  const std::string covered = good.substr(line_end) + "x";
  const std::string computed = std::to_string(crc32_z(
      0, reinterpret_cast<const Bytef*>(covered.data()), covered.size()));
  const auto hex = [](const std::string& decimal) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08lx", std::stoul(decimal));
    return std::string(digits);
  };
  const auto row = [&](std::string first, std::string second, std::string size,
                       std::string verdict, std::string name) {
    const auto right = [](std::string text, std::size_t width) {
      return text.insert(0, width - text.size(), ' ');
    };
    const auto hex_of = [&](const std::string& value) {
      return value == "-" || value == "stored" || value == "computed"
                 ? (value == "-" ? "-" : "hex")
                 : hex(value);
    };
    verdict.resize(29, ' ');
    return right(first, 10) + " " + right(hex_of(first), 8) + " " +
           right(second, 10) + " " + right(hex_of(second), 8) + " " +
           right(size, 20) + " " + verdict + " " + name + "\n";
  };
  // A copy with CR LF line ends has its stored checksum, but no content of
  // its own bytes to show.
  dir.write("crlf.ui", with_crlf_line_ends(good));
  const std::vector<std::string> names = {"good.ui", "tampered.ui", "crlf.ui",
                                          "missing.ui"};
  const std::string err =
      "upgrade-info-check: missing.ui: No such file or directory\n"
      "upgrade-info-check: 3 of 4 files FAILED\n";
  std::vector<std::string> args = {"--list"};
  args.insert(args.end(), names.begin(), names.end());
  expect_report(
      run_checker(args), 1,
      row("stored", "computed", "size", "verdict", "name") +
          row(stored, stored, "14", "OK", "good.ui") +
          row(stored, computed, "15", "FAILED (checksum mismatch)",
              "tampered.ui") +
          row(stored, "-", "-", "FAILED (CR LF line ends)", "crlf.ui") +
          row("-", "-", "-", "FAILED (cannot read)", "missing.ui"),
      err);

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

  // JSON Lines: the same with a listing or without one, and a name of
  // every script whole on every platform, where a line on Windows has it in
  // the ANSI code page.
  const std::string polish = "łódź.ui";
  dir.write(polish, good);
  const auto checksum = [&](const std::string& key, const std::string& value) {
    return "\"" + key + "\":" + value + ",\"" + key + "_hex\":\"" + hex(value) +
           "\"";
  };
  const std::string stored_fields = R"("stored":)" + stored +
                                    R"(,"stored_text":")" + stored +
                                    R"(","stored_hex":")" + hex(stored) + "\"";
  const std::string unknown =
      R"("computed":null,"computed_hex":null,"size":null})";
  const std::string objects =
      R"({"name":"\u0142\u00f3d\u017a.ui","verdict":"OK","reason":null,)" +
      stored_fields + "," + checksum("computed", stored) + ",\"size\":14}\n" +
      R"({"name":"tampered.ui","verdict":"FAILED","reason":"checksum-mismatch",)" +
      stored_fields + "," + checksum("computed", computed) + ",\"size\":15}\n" +
      R"({"name":"crlf.ui","verdict":"FAILED","reason":"cr-lf-line-ends",)" +
      stored_fields + "," + unknown + "\n" +
      R"({"name":"missing.ui","verdict":"FAILED","reason":"unreadable",)" +
      R"("stored":null,"stored_text":null,"stored_hex":null,)" + unknown + "\n";
  args[0] = "--json";
  args[1] = polish;
  expect_report(run_checker(args), 1, objects, err);
  args.insert(args.begin(), "-l");
  expect_report(run_checker(args), 1, objects, err);

  // A POSIX name is bytes, and those that are no UTF-8 come back from
  // their escapes.
  if (!is_windows_build()) {
    const std::string latin1 = "caf\xE9\n.ui";
    dir.write(latin1, good);
    EXPECT_TRUE(run_checker({"--json", latin1})
                    .out.starts_with(R"({"name":"caf\udce9\u000a.ui",)"));
  }
}

}  // namespace
}  // namespace upgrade_info::testing
