// What holds only for the Windows builds: the input read in text mode,
// standard output written in text mode, wildcard patterns expanded by the
// program's start-up, and inputs beyond what 32 bits count.

#include <signal.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "format/upgrade_info_format.h"
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

  // Runs one of the system's own commands, as attrib, in the directory.
  run_result run_windows_command(const std::vector<std::string>& words) const {
    const program command{suite.tool.launcher, words.front()};
    run_options options;
    options.directory = dir.path();
    return tool_process(command, {words.begin() + 1, words.end()}, options)
        .wait();
  }

  // `path` as the Windows programs under wine see it: on drive Z:, the root
  // of the file system.
  static std::string windows_path(const std::filesystem::path& path) {
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
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

TEST_F(windows_build, names_are_opened_exactly_as_typed) {
  // Spaces, and scripts beyond the ANSI code page, where each name has a
  // best-fit neighbour ("lódz" for "łódź") or turns into question marks.
  dir.write("lódz.txt", "a neighbour\n");
  const std::string names[] = {"release notes.txt", "łódź.txt", "Привет.txt",
                               "日本.txt", "😀.txt"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    dir.write(name, "text of " + name + "\n");
    expect_success(run({name, name + ".ui"}));
    EXPECT_EQ(dir.read(name + ".ui"), wrapped("text of " + name + "\n"));
    expect_success(run_checker({"-q", name + ".ui"}));
    EXPECT_EQ(run({name + ".missing", "out.txt"}).status, FAILURE);
  }
  // A redirected message shows a name in the ANSI code page, as ever, and
  // the checker shows one as typed, backslashes and all.
  expect_failure(run({"release notes.missing", "out.txt"}),
                 "Failed opening 'release notes.missing' to read.\n");
  const std::string nested = "out dir\\" + names[0] + ".ui";
  std::filesystem::create_directory(dir / "out dir");
  dir.write("out dir/" + names[0] + ".ui", wrapped("text\n"));
  EXPECT_EQ(run_checker({nested}).out,
            as_on_standard_stream(nested + ": OK\n"));
  EXPECT_EQ(dir.read("lódz.txt"), "a neighbour\n");
  EXPECT_EQ(dir.listing().size(), 2 * std::size(names) + 2);
}

TEST_F(windows_build, paths_beyond_260_characters_work) {
  std::string directory = "d";
  std::filesystem::create_directory(dir / directory);
  while (directory.size() < 300) {
    directory += "/" + std::string(60, 'n');
    std::filesystem::create_directory(dir / directory);
  }
  dir.write(directory + "/in.txt", "text\n");
  expect_success(run({directory + "/in.txt", directory + "/out.txt"}));
  expect_success(run({directory + "/in.txt", directory + "/out.txt"}));
  EXPECT_EQ(dir.read(directory + "/out.txt"), wrapped("text\n"));
  EXPECT_EQ(scratch_directory::listing_of(dir / directory),
            (std::vector<std::string>{"in.txt", "out.txt"}));
}

TEST_F(windows_build, disk_files_are_replaced_by_any_spelling_of_their_name) {
  // A file is what the opened handle says it is, whatever the spelling: in
  // the device namespace, in the literal one (where nul.txt is no device),
  // with slashes beyond MAX_PATH.
  std::string deep = "d";
  while (deep.size() < 300) {
    deep += "/" + std::string(60, 'n');
  }
  std::filesystem::create_directories(dir / deep);
  std::string slashed = windows_path(dir / deep / "deep.txt");
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::pair<std::string, std::string> files[] = {
      {"notes.txt", "\\\\.\\" + windows_path(dir / "notes.txt")},
      {"nul.txt", "\\\\?\\" + windows_path(dir / "nul.txt")},
      {deep + "/deep.txt", "//?/" + slashed},
  };
  dir.write("in.txt", "text\n");
  for (const auto& [file, name] : files) {
    SCOPED_TRACE(name);
    dir.write(file, "previous contents, longer than what replaces them");
    expect_success(run({"in.txt", name}));
    EXPECT_EQ(dir.read(file), wrapped("text\n"));
  }
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"d", "in.txt", "notes.txt", "nul.txt"}));
}

// Under wine, names that differ only in case can name different files, as
// no Windows file system lets them; each is reached, and kept, as it is.
TEST_F(windows_build, names_keep_their_spelling_and_reach_their_own_files) {
  dir.write("in.txt", "text\n");
  dir.write("Notes.txt", "previous contents");
  expect_success(run({"in.txt", "NOTES.TXT"}));
  EXPECT_EQ(dir.read("Notes.txt"), wrapped("text\n"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"Notes.txt", "in.txt"}));

  dir.write("NOTES.TXT", "upper");
  expect_success(run({"in.txt", "NOTES.TXT"}));
  EXPECT_EQ(dir.read("NOTES.TXT"), wrapped("text\n"));
  EXPECT_EQ(dir.read("Notes.txt"), wrapped("text\n"));
  std::filesystem::remove(dir / "Notes.txt");
  std::filesystem::create_directory(dir / "notes.txt");
  expect_success(run({"NOTES.TXT", "NOTES.TXT"}));
  EXPECT_EQ(dir.read("NOTES.TXT"), wrapped(wrapped("text\n")));
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"NOTES.TXT", "in.txt", "notes.txt"}));
}

TEST_F(windows_build, ctrl_c_leaves_no_temporary_behind) {
  // Wine gives a console program Ctrl-C for SIGINT.
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);
    const std::string block = random_text(1 << 20, 12);
    for (int i = 0; i < 256; ++i) {
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  dir.write("out.txt", "previous contents");
  tool_process writing = start({"big.txt", "out.txt"});
  for (int i = 0; i < 20000 && dir.listing().size() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(dir.listing().size(), 3u) << "the tool made no temporary";
  kill(writing.pid(), SIGINT);
  EXPECT_NE(writing.wait().status, 0);
  EXPECT_EQ(dir.read("out.txt"), "previous contents");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"big.txt", "out.txt"}));
}

TEST_F(windows_build, devices_are_written_where_they_stand) {
  dir.write("in.txt", "text\n");
  expect_success(run({"in.txt", "NUL"}));
  // A device that does not exist is no file to make beside its name, and
  // one that fails a write, even the last flush, fails the run.
  for (const char* device : {"COM9", "lpt8.txt"}) {
    expect_failure(run({"in.txt", device}),
                   "Failed opening '" + std::string(device) + "' to write.\n");
  }
  expect_failure(run({"in.txt", "Z:\\dev\\full"}),
                 "Failed writing 'Z:\\dev\\full'.\n");
  // A file the caller has open as standard output is written through it.
  run_options logged;
  logged.stdout_file = dir / "log.txt";
  logged.stdout_appends = true;
  dir.write("log.txt", "start\n");
  expect_success(run({"in.txt", "log.txt"}, logged));
  EXPECT_EQ(dir.read("log.txt"), "start\n" + wrapped("text\n"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "log.txt"}));
}

TEST_F(windows_build, replacing_keeps_attributes_and_access) {
  dir.write("in.txt", "text\n");
  dir.write("out.txt", "previous contents");
  run_windows_command({"attrib", "+h", "out.txt"});
  run_windows_command({"attrib", "+s", "out.txt"});
  expect_success(run({"in.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("text\n"));
  const std::string shown = run_windows_command({"attrib", "out.txt"}).out;
  const std::string attributes = shown.substr(0, shown.find(':'));
  EXPECT_NE(attributes.find('H'), std::string::npos) << shown;
  EXPECT_NE(attributes.find('S'), std::string::npos) << shown;
  // Wine makes a file's access list of its mode: one that a replacement
  // would not have again is written in place, keeping it.
  dir.write("private.txt", "previous contents");
  std::filesystem::permissions(dir / "private.txt",
                               std::filesystem::perms{0600});
  expect_success(run({"in.txt", "private.txt"}));
  EXPECT_EQ(dir.read("private.txt"), wrapped("text\n"));
  EXPECT_EQ(std::filesystem::status(dir / "private.txt").permissions(),
            std::filesystem::perms{0600});
}

TEST_F(windows_build, executables_may_use_addresses_above_two_gibibytes) {
  // The PE header's flag IMAGE_FILE_LARGE_ADDRESS_AWARE, which gives a
  // 32-bit program 4 GiB of address space on 64-bit Windows.
  for (const std::string& executable :
       {suite.tool.executable, suite.checker.executable}) {
    std::ifstream file(executable, std::ios::binary);
    std::string header(4096, '\0');
    file.read(header.data(), static_cast<std::streamsize>(header.size()));
    const auto byte = [&](std::size_t at) {
      return static_cast<unsigned>(static_cast<unsigned char>(header[at]));
    };
    const std::size_t pe = byte(0x3C) | byte(0x3D) << 8;
    ASSERT_EQ(header.substr(pe, 4), std::string("PE\0\0", 4)) << executable;
    const unsigned characteristics = byte(pe + 22) | byte(pe + 23) << 8;
    EXPECT_NE(characteristics & 0x20, 0u) << executable;
  }
}

TEST_F(windows_build, wraps_a_content_past_four_gibibytes) {
  // The 32-bit build counts sizes and positions in 64 bits, and holds no
  // more of the input than a piece at a time.
  constexpr std::uintmax_t BLOCK = 1 << 20;
  constexpr std::uintmax_t BLOCKS = 4097;
  const std::uintmax_t free_space =
      std::filesystem::space(dir.path()).available;
  if (free_space < 2 * BLOCK * BLOCKS + (std::uintmax_t{1} << 30)) {
    GTEST_SKIP() << "needs 9 GiB of free disk, not " << (free_space >> 30)
                 << " GiB";
  }
  const std::string block = random_text(BLOCK, 11);
  uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(MAGIC_LINE.data()),
                      MAGIC_LINE.size());
  {
    std::ofstream input(dir / "big.txt", std::ios::binary);
    for (std::uintmax_t i = 0; i < BLOCKS; ++i) {
      input.write(block.data(), static_cast<std::streamsize>(block.size()));
      crc = crc32_z(crc, reinterpret_cast<const Bytef*>(block.data()),
                    block.size());
    }
  }
  expect_success(run({"big.txt", "big.ui"}));
  std::filesystem::remove(dir / "big.txt");
  const std::string head =
      "CRC:" + std::to_string(crc) + "\n" + std::string(MAGIC_LINE);
  EXPECT_EQ(std::filesystem::file_size(dir / "big.ui"),
            head.size() + BLOCK * BLOCKS);
  std::ifstream output(dir / "big.ui", std::ios::binary);
  std::string start(head.size() + BLOCK, '\0');
  output.read(start.data(), static_cast<std::streamsize>(start.size()));
  EXPECT_EQ(start, head + block);
  std::string end(BLOCK, '\0');
  output.seekg(-static_cast<std::streamoff>(BLOCK), std::ios::end);
  output.read(end.data(), static_cast<std::streamsize>(end.size()));
  EXPECT_EQ(end, block);
}

// Another program holding the destination open (a virus scanner, an
// indexer) keeps it from being replaced: the tool retries for about a second.
class held_destination : public windows_build {
 protected:
  // Starts hold_file on `name` for `milliseconds` and waits until it holds it.
  tool_process hold(const std::string& name, int milliseconds) const {
    const program holder{suite.tool.launcher, suite.file_holder};
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
