// The upgrade-info executable, run as its users run it: each case in a fresh
// directory, checking every byte written, the messages and the exit status.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/upgrade_info_format.h"
#include "tool_fixture.h"

namespace upgrade_info::testing {
namespace {

TEST_F(upgrade_info_tool, writes_the_reference_files_exactly) {
  struct reference {
    std::string input;
    std::string checksum_line;
  };
  const reference references[] = {
      {"abc", "CRC:1378533533\n"},
      {"hello\n", "CRC:2499468743\n"},
      {std::string("\0abc", 4), "CRC:3497001744\n"},
  };
  for (const reference& ref : references) {
    SCOPED_TRACE(ref.checksum_line);
    dir.write("in.txt", ref.input);
    expect_success(run({"in.txt", "out.txt"}));
    const std::string content = ref.input.substr(0, ref.input.find('\0'));
    EXPECT_EQ(dir.read("out.txt"),
              ref.checksum_line + std::string(MAGIC_LINE) + content);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "out.txt"}));
  }
}

TEST_F(upgrade_info_tool, checksum_lines_of_every_length_are_written) {
  // Texts over several pieces of the tool's reading, and on their bounds.
  for (const auto& [checksum, size] :
       {std::pair<std::uint32_t, std::size_t>{0, 300000},
        {7, 262144},
        {42, 131072},
        {999999, 300000},
        {123456789, 262143},
        {4294967295, 300000}}) {
    SCOPED_TRACE(checksum);
    const std::string text = text_with_checksum(size, checksum);
    dir.write("in.txt", text);
    expect_success(run({"in.txt", "out.txt"}));
    EXPECT_EQ(dir.read("out.txt"), "CRC:" + std::to_string(checksum) + "\n" +
                                       std::string(MAGIC_LINE) + text);
  }
}

TEST_F(upgrade_info_tool, content_ends_before_the_first_zero_byte) {
  dir.write("in.txt", std::string("line one\nline\0two\0three", 23));
  expect_success(run({"in.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("line one\nline"));
}

TEST_F(upgrade_info_tool,
       wrong_argument_count_prints_usage_and_touches_nothing) {
  dir.write("in.txt", "text");
  const std::vector<std::string> wrong_counts[] = {
      {}, {"in.txt", "out.txt", "extra"}, {"in.txt", "a", "b", "c"}};
  for (const auto& args : wrong_counts) {
    run_options options;
    options.program_name = "my-upgrade-info";
    const run_result result = run(args, options);
    EXPECT_EQ(result.status, FAILURE);
    if (runs_natively()) {
      EXPECT_EQ(result.err, "Usage: my-upgrade-info <input> [output]\n");
    } else {
      EXPECT_TRUE(result.err.starts_with("Usage: ")) << result.err;
      EXPECT_TRUE(
          result.err.ends_with(as_on_standard_stream(" <input> [output]\n")))
          << result.err;
    }
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.txt"});
  }
}

TEST_F(upgrade_info_tool,
       default_output_is_made_or_replaced_in_working_directory) {
  dir.write("in.txt", "first");
  expect_success(run({"in.txt"}));
  EXPECT_EQ(dir.read(DEFAULT_OUTPUT), wrapped("first"));

  dir.write("in.txt", "second");
  expect_success(run({"in.txt"}));
  EXPECT_EQ(dir.read(DEFAULT_OUTPUT), wrapped("second"));
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"in.txt", DEFAULT_OUTPUT}));
}

TEST_F(upgrade_info_tool, empty_input_is_refused_and_output_left_untouched) {
  dir.write("empty.txt", "");
  expect_failure(run({"empty.txt", "new.txt"}), "Input file is empty.\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"empty.txt"});

  dir.write("old.txt", "previous contents");
  expect_failure(run({"empty.txt", "old.txt"}), "Input file is empty.\n");
  EXPECT_EQ(dir.read("old.txt"), "previous contents");

  run_options from_pipe;
  from_pipe.stdin_bytes = "";
  expect_failure(run({"-", "old.txt"}, from_pipe), "Input file is empty.\n");
  EXPECT_EQ(dir.read("old.txt"), "previous contents");
}

TEST_F(upgrade_info_tool, utf16_text_is_refused_and_output_left_untouched) {
  // As Windows PowerShell 5.1 and Notepad's "Unicode" write it, little and
  // big endian: its first zero byte would cut it after a character.
  dir.write("old.txt", "previous contents");
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF"}) {
    dir.write("notes.txt", mark + std::string("h\0i\0\n\0", 6));
    expect_failure(run({"notes.txt", "old.txt"}),
                   "Input file is UTF-16 text.\n");
  }
  EXPECT_EQ(dir.read("old.txt"), "previous contents");
  // A UTF-8 byte-order mark is content like any other bytes.
  dir.write("notes.txt", "\xEF\xBB\xBFtext\n");
  expect_success(run({"notes.txt", "new.txt"}));
  EXPECT_EQ(dir.read("new.txt"), wrapped("\xEF\xBB\xBFtext\n"));
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"new.txt", "notes.txt", "old.txt"}));
}

TEST_F(upgrade_info_tool, same_file_as_input_and_output_is_wrapped_in_place) {
  dir.write("notes.txt", "release notes\n");
  expect_success(run({"notes.txt", "notes.txt"}));
  EXPECT_EQ(dir.read("notes.txt"), wrapped("release notes\n"));
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"notes.txt"});
}

TEST_F(upgrade_info_tool, dash_names_the_standard_streams) {
  dir.write("-", "a file named dash\n");
  dir.write("in.txt", "from a file\n");

  const run_result to_stdout = run({"in.txt", "-"});
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_EQ(to_stdout.err, "");
  EXPECT_EQ(to_stdout.out, as_on_standard_stream(wrapped("from a file\n")));

  // Standard input is read from where it stands: after a caller's own
  // read of a first line, or at the end, where there is nothing to read.
  run_options redirected;
  redirected.stdin_file = dir / "in.txt";
  expect_success(run({"-", "out.txt"}, redirected));
  EXPECT_EQ(dir.read("out.txt"), wrapped("from a file\n"));
  redirected.stdin_offset = 5;
  expect_success(run({"-", "out.txt"}, redirected));
  EXPECT_EQ(dir.read("out.txt"), wrapped("a file\n"));
  redirected.stdin_offset = 12;
  expect_failure(run({"-", "out.txt"}, redirected), "Input file is empty.\n");
  EXPECT_EQ(dir.read("out.txt"), wrapped("a file\n"));

  expect_success(run({"./-", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("a file named dash\n"));
  EXPECT_EQ(dir.read("-"), "a file named dash\n");
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"-", "in.txt", "out.txt"}));
}

TEST_F(upgrade_info_tool,
       standard_input_that_cannot_be_measured_is_read_to_its_end) {
  const std::string text = random_text(300000, 1);  // beyond a pipe's buffer
  run_options from_pipe;
  from_pipe.stdin_bytes = text;
  expect_success(run({"-", "out.txt"}, from_pipe));
  EXPECT_EQ(dir.read("out.txt"), wrapped(text));
  // Written in order, it is kept in a spill file until its checksum is
  // known.
  const run_result to_stdout = run({"-", "-"}, from_pipe);
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_TRUE(to_stdout.out == as_on_standard_stream(wrapped(text)));
}

TEST_F(upgrade_info_tool, other_names_beginning_with_a_dash_are_paths) {
  dir.write("--", "two dashes\n");
  expect_success(run({"--", "-x"}));
  EXPECT_EQ(dir.read("-x"), wrapped("two dashes\n"));

  expect_success(run({"--", " -"}));
  EXPECT_EQ(dir.read(" -"), wrapped("two dashes\n"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{" -", "--", "-x"}));
}

TEST_F(upgrade_info_tool, streams_that_cannot_be_opened_are_reported) {
  expect_failure(run({"missing.txt", "out.txt"}),
                 "Failed opening 'missing.txt' to read.\n");
  expect_failure(run({"", "out.txt"}), "Failed opening '' to read.\n");
  EXPECT_TRUE(dir.listing().empty());

  dir.write("in.txt", "text");
  std::filesystem::create_directory(dir / "folder");
  expect_failure(run({"in.txt", "no/such/out.txt"}),
                 "Failed opening 'no/such/out.txt' to write.\n");
  expect_failure(run({"in.txt", "folder"}),
                 "Failed opening 'folder' to write.\n");
  expect_failure(run({"in.txt", ""}), "Failed opening '' to write.\n");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"folder", "in.txt"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
}

TEST_F(upgrade_info_tool, messages_name_what_went_wrong) {
  if (is_windows_build()) {
    GTEST_SKIP() << "closed descriptors and TMPDIR as Linux has them";
  }
  // With both closed, each standard stream is held so that its name names
  // no file: the input cannot be opened, rather than found empty.
  run_options closed;
  closed.stdin_closed = true;
  closed.stdout_closed = true;
  expect_failure(run({"/dev/stdin", "out.txt"}, closed),
                 "Failed opening '/dev/stdin' to read.\n");
  // A TMPDIR that cannot be used gives way to /tmp, as it does for other
  // programs that keep files there.
  run_options no_tmpdir;
  no_tmpdir.environment = {"TMPDIR=" + (dir / "missing").string()};
  no_tmpdir.stdin_bytes = "notes\n";
  const run_result piped = run({"-", "-"}, no_tmpdir);
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, wrapped("notes\n"));
  no_tmpdir.stdin_bytes = wrapped("notes\n");
  const run_result extracted = run_checker({"-x"}, no_tmpdir);
  EXPECT_EQ(extracted.status, 0);
  EXPECT_EQ(extracted.out, "notes\n");
  EXPECT_EQ(extracted.err, "");
  // An input read only once, for standard output, is kept until its
  // checksum is known; with no room to keep it, it is too large.
  run_options no_room;
  no_room.stdin_bytes = random_text(64 << 10, 8);
  no_room.file_size_limit = 4096;
  expect_failure(run({"-", "-"}, no_room), "Input file is too large.\n");
  EXPECT_TRUE(dir.listing().empty());
}

TEST_F(upgrade_info_tool,
       input_that_reports_no_size_but_has_content_is_wrapped) {
  if (is_windows_build()) {
    GTEST_SKIP() << "/proc is a Linux file system";
  }
  std::ifstream version("/proc/version", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(version),
                         std::istreambuf_iterator<char>()};
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(std::filesystem::file_size("/proc/version"), 0u);
  expect_success(run({"/proc/version", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped(text));
  // One whose bytes change from one reading to the next is read once.
  const run_result stat = run({"/proc/self/stat", "-"});
  EXPECT_EQ(stat.status, 0);
  run_options piped;
  piped.stdin_bytes = stat.out;
  EXPECT_EQ(run_checker({"-q"}, piped).status, 0) << stat.out;
}

TEST_F(upgrade_info_tool, read_errors_are_reported_and_nothing_is_written) {
  if (is_windows_build()) {
    GTEST_SKIP() << "these inputs fail to read only on Linux";
  }
  dir.write("old.txt", "previous contents");
  // Reading a process's own memory at offset 0 fails with EIO; a directory
  // opens but fails with EISDIR, after reporting the largest size there is.
  expect_failure(run({"/proc/self/mem", "old.txt"}),
                 "Failed reading '/proc/self/mem'.\n");
  std::filesystem::create_directory(dir / "folder");
  expect_failure(run({"folder", "old.txt"}), "Failed reading 'folder'.\n");
  expect_failure(run({"folder", "new.txt"}), "Failed reading 'folder'.\n");
  EXPECT_EQ(dir.read("old.txt"), "previous contents");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"folder", "old.txt"}));
}

TEST_F(upgrade_info_tool, memory_does_not_grow_with_the_input) {
  if (suite.sanitized) {
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
  }
  if (!runs_natively()) {
    GTEST_SKIP() << "the limit would bind the launcher too";
  }
  const std::uintmax_t free_space =
      std::filesystem::space(dir.path()).available;
  if (free_space < (std::uintmax_t{4} << 30)) {
    GTEST_SKIP() << "needs 4 GiB of free disk, not " << (free_space >> 20)
                 << " MiB";
  }
  // 1 GiB of text, and 64 GiB whose content ends after three bytes.
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);
    const std::string block = random_text(1 << 20, 9);
    for (int i = 0; i < 1024; ++i) {
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  dir.write("early.txt", std::string("abc\0", 4));
  std::filesystem::resize_file(dir / "early.txt", std::uintmax_t{64} << 30);
  run_options limited;
  limited.address_space_limit = std::uint64_t{64} << 20;
  expect_success(run({"early.txt", "early.ui"}, limited));
  EXPECT_EQ(dir.read("early.ui"), wrapped("abc"));
  expect_success(run({"big.txt", "big.ui"}, limited));
  const run_result checked = run_checker({"big.ui"}, limited);
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.out, "big.ui: OK\n");
  // The checker compares the content with its notes side by side, read
  // again from their file or kept from a pipe.
  const std::string compared = "big.ui: OK, source OK\n";
  EXPECT_EQ(run_checker({"--source", "big.txt", "big.ui"}, limited).out,
            compared);
  run_options piped_notes = limited;
  piped_notes.stdin_through_pipe = true;
  piped_notes.stdin_file = dir / "big.txt";
  EXPECT_EQ(run_checker({"--source", "-", "big.ui"}, piped_notes).out,
            compared);

  // Through pipes, to standard output: what can be read only once is kept
  // in a spill file until it can be written in order.
  run_options piped = limited;
  piped.stdin_through_pipe = true;
  piped.stdout_file = "/dev/null";
  piped.stdin_file = dir / "big.txt";
  expect_success(run({"-", "-"}, piped));
  piped.stdin_file = dir / "big.ui";
  const run_result extracted = run_checker({"-x"}, piped);
  EXPECT_EQ(extracted.status, 0);
  EXPECT_EQ(extracted.err, "");
}

TEST_F(upgrade_info_tool, input_read_twice_must_not_change_in_between) {
  if (!can_inject_faults()) {
    GTEST_SKIP() << "needs a tool that a library can be preloaded into";
  }
  // Written to standard output, which takes bytes only in order, the input
  // is read for its checksum, then again as it is written; cut short in
  // between, it fails; grown, what was read first is written.
  const std::string text = random_text(300000, 10);
  const std::string concerned = "FAULT_PATH=" + dir.path().string();
  run_options cut;
  cut.faults = {concerned, "FAULT_INPUT_RESIZE=1000"};
  dir.write("in.txt", text);
  const run_result shrunk = run({"in.txt", "-"}, cut);
  EXPECT_EQ(shrunk.status, FAILURE);
  EXPECT_EQ(shrunk.err, "Failed reading 'in.txt'.\n");

  run_options grown;
  grown.faults = {concerned, "FAULT_INPUT_RESIZE=400000"};
  dir.write("in.txt", text);
  const run_result longer = run({"in.txt", "-"}, grown);
  EXPECT_EQ(longer.status, 0);
  EXPECT_EQ(longer.out, wrapped(text));
}

TEST_F(upgrade_info_tool, write_failures_are_reported) {
  // Closed, standard output stays so: no file the tool opens (a spill file
  // for an input through a pipe) takes its place.
  run_options closed;
  closed.stdin_bytes = std::string(8128, 'a');
  closed.stdout_closed = true;
  expect_failure(run({"-", "-"}, closed), "Failed writing '-'.\n");
  if (!is_windows_build()) {
    closed.stdin_bytes.reset();
    dir.write("in.txt", "text");
    expect_failure(run({"in.txt", "/dev/stdout"}, closed),
                   "Failed opening '/dev/stdout' to write.\n");
  }

  // Standard output is closed at the end, so that an error its file system
  // reports only then (NFS) is seen.
  if (can_inject_faults()) {
    const scratch_directory elsewhere;
    dir.write("in.txt", "text");
    run_options closing;
    closing.stdout_file = elsewhere / "out";
    closing.faults = {"FAULT_PATH=" + (elsewhere / "out").string(),
                      "FAULT_CLOSE=1"};
    expect_failure(run({"in.txt", "-"}, closing), "Failed writing '-'.\n");
  }

  // A small output to standard output fails only when the stream is
  // flushed; a large one already in its writes.
  for (const std::string& text : {std::string("abc"), random_text(20000, 3)}) {
    SCOPED_TRACE(text.size());
    dir.write("in.txt", text);

    run_options full_disk;
    full_disk.stdout_file = "/dev/full";
    expect_failure(run({"in.txt", "-"}, full_disk), "Failed writing '-'.\n");

    // Under wine a write cut short by the file-size limit is reported as
    // whole, so no Windows program there can see it.
    if (!is_windows_build()) {
      run_options limited;
      limited.file_size_limit = 40;
      expect_failure(run({"in.txt", "out.txt"}, limited),
                     "Failed writing 'out.txt'.\n");
    }
  }
}

}  // namespace
}  // namespace upgrade_info::testing
