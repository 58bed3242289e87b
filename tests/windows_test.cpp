// What holds only for the Windows builds: the input read in text mode,
// standard output written in text mode, and wildcard patterns expanded by
// the program's start-up.

#include <chrono>
#include <filesystem>
#include <thread>

#include "tool_fixture.h"

namespace upgrade_info::testing {
namespace {

class windows_build : public upgrade_info_tool {
 protected:
  void SetUp() override {
    if (!is_windows_build()) {
      GTEST_SKIP() << "for the Windows builds only";
    }
  }
};

TEST_F(windows_build, input_is_read_as_text) {
  dir.write("crlf.txt", "line one\r\nline two\r\n");
  expect_success(run({"crlf.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("line one\nline two\n"));

  run_options redirected;
  redirected.stdin_file = dir / "crlf.txt";
  expect_success(run({"-", "out.txt"}, redirected));
  EXPECT_EQ(dir.read("out.txt"), wrapped("line one\nline two\n"));

  // Ctrl-Z ends a text; a file that starts with it has an empty content,
  // which is not an empty file.
  dir.write("ctrl-z.txt", "before\x1A after\r\n");
  expect_success(run({"ctrl-z.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("before"));
  dir.write("ctrl-z.txt", "\x1A after");
  expect_success(run({"ctrl-z.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped(""));
}

TEST_F(windows_build, standard_output_carries_crlf_with_the_same_checksum) {
  dir.write("in.txt", "line one\nline two\n");
  const run_result result = run({"in.txt", "-"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, as_on_standard_stream(wrapped("line one\nline two\n")));
  EXPECT_NE(result.out.find("line one\r\nline two\r\n"), std::string::npos);
}

TEST_F(windows_build, start_up_expands_wildcards_into_file_names) {
  dir.write("notes1.txt", "first\n");
  dir.write("notes2.txt", "second\n");
  // Two matches: the first is the input, the second the output.
  expect_success(run({"notes?.txt"}));
  EXPECT_EQ(dir.read("notes1.txt"), "first\n");
  EXPECT_EQ(dir.read("notes2.txt"), wrapped("first\n"));

  dir.write("single.txt", "only\n");
  expect_success(run({"sing*.txt"}));
  EXPECT_EQ(dir.read(DEFAULT_OUTPUT), wrapped("only\n"));

  expect_failure(run({"absent*.txt", "out.txt"}),
                 "Failed opening 'absent*.txt' to read.\n");
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"notes1.txt", "notes2.txt", "single.txt",
                                      DEFAULT_OUTPUT}));
}

TEST_F(windows_build, names_may_hold_spaces) {
  dir.write("release notes.txt", "text\n");
  expect_success(run({"release notes.txt", "upgrade info.txt"}));
  EXPECT_EQ(dir.read("upgrade info.txt"), wrapped("text\n"));
}

TEST_F(windows_build, device_names_are_written_directly) {
  dir.write("in.txt", "text\n");
  expect_success(run({"in.txt", "NUL"}));
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.txt"});
}

// Another program holding the destination open (a virus scanner, an
// indexer) keeps it from being replaced: the tool retries for about a second.
class held_destination : public windows_build {
 protected:
  // Starts hold_file on `name` for `milliseconds` and waits until it holds it.
  tool_process hold(const std::string& name, int milliseconds) const {
    tool_command holder = tool;
    holder.executable = tool.file_holder;
    run_options options;
    options.directory = dir.path();
    tool_process process(holder, {name, "held", std::to_string(milliseconds)},
                         options);
    for (int i = 0; i < 2000 && !std::filesystem::exists(dir / "held"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::filesystem::remove(dir / "held");
    return process;
  }
};

TEST_F(held_destination, is_replaced_once_let_go) {
  dir.write("in.txt", "text\n");
  dir.write("out.txt", "previous contents");
  tool_process holder = hold("out.txt", 400);
  expect_success(run({"in.txt", "out.txt"}));
  EXPECT_EQ(holder.wait().status, 0);
  EXPECT_EQ(dir.read("out.txt"), wrapped("text\n"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

TEST_F(held_destination, stays_as_it_was_when_held_too_long) {
  dir.write("in.txt", "text\n");
  dir.write("out.txt", "previous contents");
  tool_process holder = hold("out.txt", 4000);
  expect_failure(run({"in.txt", "out.txt"}), "Failed writing 'out.txt'.\n");
  EXPECT_EQ(holder.wait().status, 0);
  EXPECT_EQ(dir.read("out.txt"), "previous contents");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

}  // namespace
}  // namespace upgrade_info::testing
