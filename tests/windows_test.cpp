// What holds only for the Windows builds: the input read in text mode,
// standard output written in text mode, wildcard patterns expanded by the
// program's start-up, and inputs beyond what 32 bits count.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string_view>
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

TEST_F(windows_build, no_ending_leaves_a_temporary_behind) {
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);
    const std::string block = random_text(1 << 20, 12);
    for (int i = 0; i < 256; ++i) {
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  // Wine gives a console program Ctrl-C for SIGINT, which ends it as
  // Windows ends one (STATUS_CONTROL_C_EXIT, of which a status keeps the
  // low byte); a process killed from outside closes its handles all the
  // same, and the temporary goes with them.
  constexpr int CONTROL_C_EXIT = 0x3A;
  for (const int signal : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    dir.write("out.txt", "previous contents");
    tool_process writing = start({"big.txt", "out.txt"});
    // Ended while it writes the new contents: from the instant its
    // temporary is made to the one it is marked to go, a kill leaves it.
    const auto writing_temporary = [&] {
      for (const std::string& name : dir.listing()) {
        std::error_code error;
        if (name.starts_with(".out.txt.") &&
            std::filesystem::file_size(dir / name, error) > 0) {
          return true;
        }
      }
      return false;
    };
    for (int i = 0; i < 20000 && !writing_temporary(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(writing_temporary()) << "the tool wrote no temporary";
    kill(writing.pid(), signal);
    const run_result ended = writing.wait();
    EXPECT_EQ(signal == SIGINT ? ended.status : ended.signal,
              signal == SIGINT ? CONTROL_C_EXIT : SIGKILL);
    // A busy disk can keep the wine server seconds from removing it.
    for (int i = 0; i < 1000 && dir.listing().size() > 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(dir.read("out.txt"), "previous contents");
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"big.txt", "out.txt"}));
  }
  // Also a Ctrl-C that comes before any file is touched, while the input
  // is awaited.
  ASSERT_EQ(mkfifo((dir / "input").c_str(), 0600), 0);
  const int writer = open((dir / "input").c_str(), O_RDWR | O_CLOEXEC);
  run_options waiting;
  waiting.stdin_file = dir / "input";
  tool_process reading = start({"-", "out.txt"}, waiting);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(reading.pid(), SIGINT);
  EXPECT_EQ(reading.wait().status, CONTROL_C_EXIT);
  close(writer);
  EXPECT_EQ(dir.read("out.txt"), "previous contents");
}

TEST_F(windows_build, overwrite_in_place_survives_kills_and_other_runs) {
  if (geteuid() != 0 || suite.tool_with_faults.executable.empty()) {
    GTEST_SKIP() << "needs root, to make a folder take no new file, and "
                    "--tool-faults, to name the temporary folder";
  }
  // A folder that takes no new file has its file written in place. A
  // process killed from outside while it saves the old contents leaves
  // nothing; one killed while it overwrites the file leaves them whole in
  // the saved copy.
  const std::string old_text = random_text(64 << 20, 28);
  std::filesystem::create_directory(dir / "fixed");
  dir.write("in.txt", random_text(64 << 20, 29));
  const scratch_directory temporary;
  run_options options;
  options.environment = {"FAULT_TEMP=" + windows_path(temporary.path())};
  options.directory = dir.path();
  const std::string fixed = (dir / "fixed").string();
  // The spill of the new contents comes first, then the saved copy.
  const auto saving = [&] {
    const std::vector<std::string> files = temporary.listing();
    return files.size() == 2 &&
           std::all_of(files.begin(), files.end(), [&](const auto& name) {
             std::error_code error;
             return std::filesystem::file_size(temporary / name, error) > 0;
           });
  };
  const auto overwritten = [&] {
    char start[4] = {};
    std::ifstream(dir / "fixed/out.txt", std::ios::binary).read(start, 4);
    return std::string(start, 4) == "CRC:";
  };
  for (const bool while_saving : {true, false}) {
    SCOPED_TRACE(while_saving ? "saving" : "overwriting");
    dir.write("fixed/out.txt", old_text);
    ASSERT_EQ(std::system(("chattr +i " + fixed).c_str()), 0);
    tool_process writing(suite.tool_with_faults, {"in.txt", "fixed/out.txt"},
                         options);
    for (int i = 0; i < 30000 && !(while_saving ? saving() : overwritten());
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(writing.pid(), SIGKILL);
    writing.wait();
    (void)std::system(("chattr -i " + fixed).c_str());
    // The wine server closes a killed program's handles, and so deletes
    // the files marked to go with them, a moment after it ends.
    const std::size_t left = while_saving ? 0 : 1;
    for (int i = 0; i < 1000 && temporary.listing().size() > left; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::vector<std::string> kept = temporary.listing();
    const std::string now = dir.read("fixed/out.txt");
    // Compared whole, not printed: a diff of megabytes helps no one.
    if (while_saving) {
      EXPECT_TRUE(now == old_text);
      EXPECT_EQ(kept, std::vector<std::string>{});
    } else {
      EXPECT_TRUE(now == old_text ||
                  (kept.size() == 1 && temporary.read(kept[0]) == old_text));
    }
    for (const std::string& name : kept) {
      std::filesystem::remove(temporary / name);
    }
  }

  // A run whose input is the file another overwrites in place reads it
  // whole: here it starts once the other, its writes slowed, is midway,
  // and so wraps the other's file.
  const std::string text = old_text.substr(0, 4 << 20);
  dir.write("fixed/out.txt", text);
  ASSERT_EQ(std::system(("chattr +i " + fixed).c_str()), 0);
  run_options slowed = options;
  slowed.environment.push_back("FAULT_SLOW_WRITES=out.txt");
  tool_process first(suite.tool_with_faults, {"fixed/out.txt", "fixed/out.txt"},
                     slowed);
  for (int i = 0; i < 30000 && !overwritten(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  tool_process second(suite.tool, {"fixed/out.txt", "fixed/out.txt"}, options);
  expect_success(first.wait());
  expect_success(second.wait());
  (void)std::system(("chattr -i " + fixed).c_str());
  EXPECT_TRUE(dir.read("fixed/out.txt") == wrapped(wrapped(text)));
}

TEST_F(windows_build, help_is_asked_for_as_windows_programs_are) {
  const run_result tool = run({"/?"});
  EXPECT_EQ(tool.status, 0);
  EXPECT_TRUE(tool.out.starts_with("Usage: ")) << tool.out;
  const run_result checker = run_checker({"/?"});
  EXPECT_EQ(checker.status, 0);
  EXPECT_TRUE(checker.out.starts_with("Usage: upgrade-info-check"))
      << checker.out;
  EXPECT_TRUE(dir.listing().empty());
}

TEST_F(windows_build, names_any_file_system_takes) {
  dir.write("in.txt", "text\n");
  // 253 bytes of UTF-8 on a file system that counts bytes, as Linux's do
  // under wine: the temporary's name is cut shorter than UTF-16 would need.
  std::string long_name;
  for (int i = 0; i < 126; ++i) {
    long_name += "\u00e9";
  }
  long_name += "x";
  expect_success(run({"in.txt", long_name}));
  EXPECT_EQ(dir.read(long_name), wrapped("text\n"));
  // A link to nothing is refused, rather than made at its end for a moment
  // or replaced itself.
  std::filesystem::create_symlink("absent.txt", dir / "dangling.txt");
  expect_failure(run({"in.txt", "dangling.txt"}),
                 "Failed opening 'dangling.txt' to write.\n");
  std::filesystem::remove(dir / "dangling.txt");
  // A stream of a file is a part of it: one that is not there is not made,
  // nor any file for it.
  dir.write("info.txt", "previous contents");
  expect_failure(run({"in.txt", "info.txt:meta"}),
                 "Failed opening 'info.txt:meta' to write.\n");
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"in.txt", "info.txt", long_name}));
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
  // A file the caller has open as standard output is written through it,
  // also as cmd.exe opens it, shared only to read and delete. One that is
  // standard input so is replaced once read where renames have POSIX
  // semantics (Windows 10 on NTFS); wine's have not, and it stays whole.
  run_options logged;
  logged.stdout_file = dir / "log.txt";
  logged.stdout_appends = true;
  dir.write("log.txt", "start\n");
  expect_success(run({"in.txt", "log.txt"}, logged));
  const std::string tool = windows_path(suite.tool.executable);
  const run_result appended =
      run_windows_command({"cmd", "/c", tool + " in.txt log.txt >> log.txt"});
  EXPECT_EQ(appended.status, 0) << appended.err;
  EXPECT_EQ(dir.read("log.txt"),
            "start\n" + wrapped("text\n") + wrapped("text\n"));
  dir.write("same.txt", "same\n");
  const run_result read_first =
      run_windows_command({"cmd", "/c", tool + " - same.txt < same.txt"});
  EXPECT_EQ(read_first.status == 0 ? wrapped("same\n") : "same\n",
            dir.read("same.txt"));
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"in.txt", "log.txt", "same.txt"}));
  // A block device is a device, whatever type of handle Windows gives it:
  // written where it stands, with no copy of what it held.
  if (geteuid() == 0) {
    dir.write("disk", "");
    std::filesystem::resize_file(dir / "disk", 1 << 20);
    const std::string attach =
        "losetup --find --show " + (dir / "disk").string();
    std::FILE* attached = popen(attach.c_str(), "r");
    char device[64] = "";
    const bool got = std::fgets(device, sizeof device, attached) != nullptr;
    pclose(attached);
    if (got) {
      std::string loop(device);
      loop.erase(loop.find_last_not_of("\n") + 1);
      std::filesystem::create_symlink(loop, dir / "blk");
      expect_success(run({"in.txt", "blk"}));
      (void)std::system(("losetup --detach " + loop).c_str());
      EXPECT_EQ(dir.read("disk").substr(0, wrapped("text\n").size()),
                wrapped("text\n"));
    }
  }
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

TEST_F(windows_build, what_no_replacement_could_keep_is_written_in_place) {
  if (suite.tool_with_faults.executable.empty()) {
    GTEST_SKIP() << "needs --tool-faults";
  }
  // As the system answers (injected here, as wine cannot give them): a
  // folder that lets the user write the file but not delete it, a file
  // that carries a stream a new one would lack. The file stays the one it
  // was, with its new contents.
  win32_fault no_deleting;
  no_deleting.what = win32_fault::kind::failures;
  no_deleting.error = 5;  // ERROR_ACCESS_DENIED
  no_deleting.name = "CreateFileW out.txt DELETE";
  const std::pair<win32_fault, std::string> cases[] = {
      {no_deleting, "FAULT_STREAMS="},
      {win32_fault{}, "FAULT_STREAMS=out.txt"}};
  dir.write("in.txt", "text\n");
  for (const auto& [fault, environment] : cases) {
    SCOPED_TRACE(environment);
    dir.write("out.txt", "previous contents");
    const auto inode = [&] {
      struct stat status {};
      stat((dir / "out.txt").c_str(), &status);
      return status.st_ino;
    };
    const ino_t before = inode();
    run_options options;
    options.environment = {environment};
    expect_success(run_injected(suite.tool_with_faults, {"in.txt", "out.txt"},
                                fault, options)
                       .result);
    EXPECT_EQ(dir.read("out.txt"), wrapped("text\n"));
    EXPECT_EQ(inode(), before);
  }
  // A temporary directory whose path is longer than MAX_PATH holds a spill
  // file all the same.
  std::string temporary = "t";
  while ((dir / temporary).string().size() < 300) {
    temporary += "/" + std::string(60, 't');
  }
  std::filesystem::create_directories(dir / temporary);
  run_options piped;
  piped.stdin_bytes = "notes\n";
  piped.environment = {"FAULT_TEMP=" + windows_path(dir / temporary)};
  const run_result spilled =
      run_injected(suite.tool_with_faults, {"-", "-"}, {}, piped).result;
  EXPECT_EQ(spilled.status, 0);
  EXPECT_EQ(spilled.out, as_on_standard_stream(wrapped("notes\n")));
}

// The little-endian 16-bit word at `at`.
std::size_t pe_word(const std::string& bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[i]));
  };
  return byte(at) | byte(at + 1) << 8;
}

// The first 24 bytes of an executable's PE header: its signature, then
// the file header, with the machine at 4 and the characteristics at 22.
std::string pe_header(const std::string& executable) {
  std::ifstream file(executable, std::ios::binary);
  std::string start(4096, '\0');
  file.read(start.data(), static_cast<std::streamsize>(start.size()));
  return start.substr(pe_word(start, 0x3C), 24);
}

TEST_F(windows_build, executables_may_use_addresses_above_two_gibibytes) {
  // The flag IMAGE_FILE_LARGE_ADDRESS_AWARE, which gives a 32-bit program
  // 4 GiB of address space on 64-bit Windows.
  for (const std::string& executable :
       {suite.tool.executable, suite.checker.executable}) {
    const std::string header = pe_header(executable);
    ASSERT_EQ(header.substr(0, 4), std::string("PE\0\0", 4)) << executable;
    EXPECT_NE(pe_word(header, 22) & 0x20, 0u) << executable;
  }
}

TEST_F(windows_build, wraps_a_content_past_four_gibibytes) {
  // The 32-bit build counts sizes and positions in 64 bits, and holds no
  // more of the input than a piece at a time.
  constexpr unsigned I386 = 0x14C;
  if (pe_word(pe_header(suite.tool.executable), 4) != I386) {
    GTEST_SKIP() << "only a 32-bit build's sizes could wrap at 4 GiB";
  }
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
using held_destination = windows_build;

TEST_F(held_destination, is_replaced_once_let_go) {
  dir.write("in.txt", "text\n");
  dir.write("out.txt", "previous contents");
  tool_process holder = hold("out.txt", 400);
  expect_success(run({"in.txt", "out.txt"}));
  EXPECT_EQ(holder.wait().status, 0);
  EXPECT_EQ(dir.read("out.txt"), wrapped("text\n"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "out.txt"}));
  // So too one written in place, in a folder that takes no new file.
  if (geteuid() == 0) {
    std::filesystem::create_directory(dir / "fixed");
    dir.write("fixed/out.txt", "previous contents");
    ASSERT_EQ(std::system(("chattr +i " + (dir / "fixed").string()).c_str()),
              0);
    tool_process fixed_holder = hold("fixed/out.txt", 400);
    const run_result result = run({"in.txt", "fixed/out.txt"});
    (void)std::system(("chattr -i " + (dir / "fixed").string()).c_str());
    expect_success(result);
    EXPECT_EQ(fixed_holder.wait().status, 0);
    EXPECT_EQ(dir.read("fixed/out.txt"), wrapped("text\n"));
  }
}

TEST_F(held_destination, link_to_it_stays_a_link) {
  dir.write("in.txt", "text\n");
  std::filesystem::create_directory(dir / "real");
  dir.write("real/target.txt", "previous contents");
  std::filesystem::create_symlink("real/target.txt", dir / "lnk");
  tool_process holder = hold("real/target.txt", 600);
  expect_success(run({"in.txt", "lnk"}));
  EXPECT_EQ(holder.wait().status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "lnk"));
  EXPECT_EQ(dir.read("real/target.txt"), wrapped("text\n"));
}

TEST_F(held_destination, is_no_obstacle_to_another_run) {
  // A run on an output commits while another one is writing it: each
  // succeeds, and the last commit wins.
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);
    const std::string block = random_text(1 << 20, 26);
    for (int i = 0; i < 256; ++i) {
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  dir.write("small.txt", "small\n");
  dir.write("out.txt", "previous contents");
  tool_process slow = start({"big.txt", "out.txt"});
  for (int i = 0; i < 20000 && dir.listing().size() < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  expect_success(run({"small.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("small\n"));
  expect_success(slow.wait());
  EXPECT_GT(std::filesystem::file_size(dir / "out.txt"),
            std::uintmax_t{256} << 20);
  EXPECT_EQ(run_checker({"-q", "out.txt"}).status, 0);
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"big.txt", "out.txt", "small.txt"}));
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

// The Windows fault sweep. The tool built with the fault injector runs once
// to list the calls it makes on files, handles and the console, then once
// with each of them failing, with each error the system may answer there,
// and once with Ctrl-C just before it; and once on a volume without file
// IDs. After every run the promise of "Nothing lost" must hold: a success
// leaves the destination holding exactly the new file; a failure leaves it
// with its old bytes (or a kept copy, named on standard error, holds them)
// and says so in one message; no run changes, makes or leaves any other
// file, in the directory or in the temporary one; and Ctrl-C stops a commit
// still to come. Every broken promise is reported, and fails the case.
struct sweep_case {
  const char* name;
  std::vector<std::string> args;        // "-" as the input: TEXT through a pipe
  const char* destination;              // the file the output names, or none
  std::optional<std::string> previous;  // its bytes before the run, if any
  std::filesystem::perms mode = std::filesystem::perms{0644};
  int held_for = 0;  // milliseconds another program holds it from the start
};

void PrintTo(const sweep_case& swept, std::ostream* stream) {
  *stream << swept.name;
}

constexpr std::string_view TEXT = "line one\nline two\n";
constexpr const char* OLD = "previous contents";

const sweep_case SWEEP_CASES[] = {
    {"existing_file", {"in.txt", "out.txt"}, "out.txt", OLD},
    {"missing_file", {"in.txt", "new.txt"}, "new.txt", std::nullopt},
    // Wine lets root open it to write, as Windows lets no one.
    {"read_only_file",
     {"in.txt", "out.txt"},
     "out.txt",
     OLD,
     std::filesystem::perms{0444}},
    // Wine gives a file an access list of its mode, which a replacement
    // would not have again: it is written in place.
    {"file_written_in_place",
     {"in.txt", "out.txt"},
     "out.txt",
     OLD,
     std::filesystem::perms{0600}},
    {"held_file",
     {"in.txt", "out.txt"},
     "out.txt",
     OLD,
     std::filesystem::perms{0644},
     150},
    {"device", {"in.txt", "NUL"}, nullptr, std::nullopt},
    {"standard_output", {"-", "-"}, nullptr, std::nullopt},
    {"input_as_output", {"in.txt", "in.txt"}, "in.txt", std::string(TEXT)},
};

struct win32_error {
  unsigned long code;
  const char* name;
};

constexpr win32_error ACCESS_DENIED{5, "ERROR_ACCESS_DENIED"};
constexpr win32_error SHARING_VIOLATION{32, "ERROR_SHARING_VIOLATION"};
constexpr win32_error INVALID_PARAMETER{87, "ERROR_INVALID_PARAMETER"};
constexpr win32_error DISK_FULL{112, "ERROR_DISK_FULL"};

// The errors a listed call fails with: access denied, which any call may
// meet, and what the system answers there besides.
std::vector<win32_error> errors_for(std::string_view call) {
  const auto among = [&](std::initializer_list<std::string_view> names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
      return call.starts_with(name);
    });
  };
  std::vector<win32_error> errors{ACCESS_DENIED};
  if (among({"CreateFileW", "_wfopen", "DeleteFileW", "MoveFileExW",
             "ReplaceFileW", "SetFileInformationByHandle FileRenameInfo",
             "SetFileInformationByHandle FileDispositionInfo"})) {
    errors.push_back(SHARING_VIOLATION);
  }
  // What the FAT and exFAT drivers answer where they lack a class of
  // information (FileIdInfo, for one).
  if (among({"GetFileInformationByHandle", "SetFileInformationByHandle",
             "GetVolumeInformationByHandleW", "GetFinalPathNameByHandleW",
             "GetSecurityInfo"})) {
    errors.push_back(INVALID_PARAMETER);
  }
  if (among({"WriteFile", "fwrite", "fputc", "fputs", "fflush", "fclose",
             "_close", "CloseHandle", "FlushFileBuffers", "SetEndOfFile",
             "SetFileInformationByHandle FileEndOfFileInfo"})) {
    errors.push_back(DISK_FULL);
  }
  return errors;
}

// Each file's bytes, by name.
using file_set = std::map<std::string, std::string>;

file_set files_in(const std::filesystem::path& directory) {
  file_set files;
  for (const std::string& name : scratch_directory::listing_of(directory)) {
    std::ifstream file(directory / name, std::ios::binary);
    files[name] = {std::istreambuf_iterator<char>(file),
                   std::istreambuf_iterator<char>()};
  }
  return files;
}

std::string what_holds(const std::string& bytes) {
  return bytes == OLD             ? "the old bytes"
         : bytes == TEXT          ? "the old text"
         : bytes == wrapped(TEXT) ? "the new file"
         : bytes.empty()          ? "nothing"
                         : std::to_string(bytes.size()) + " other bytes";
}

class fault_sweep : public windows_build,
                    public ::testing::WithParamInterface<sweep_case> {
 protected:
  void SetUp() override {
    windows_build::SetUp();
    if (!IsSkipped() && suite.tool_with_faults.executable.empty()) {
      GTEST_SKIP() << "needs --tool-faults";
    }
  }

  // A run of the case from its first state, and the files it left.
  struct swept_run {
    injected_run run;
    file_set before;
    file_set after;
    file_set temporary;
  };

  // A run whose process lingered at its exit, under wine, is made again.
  swept_run run_case(const win32_fault& fault, int tries = 3) const {
    const sweep_case& c = GetParam();
    for (const std::string& name : dir.listing()) {
      std::filesystem::remove_all(dir / name);
    }
    for (const std::string& name : temporary_.listing()) {
      std::filesystem::remove_all(temporary_ / name);
    }
    dir.write("in.txt", TEXT);
    if (c.previous) {
      dir.write(c.destination, *c.previous);
      std::filesystem::permissions(dir / c.destination, c.mode);
    }
    swept_run swept;
    swept.before = files_in(dir.path());
    run_options options;
    options.environment = {"FAULT_TEMP=" + windows_path(temporary_.path())};
    if (c.args[0] == "-") {
      options.stdin_bytes = TEXT;
    }
    std::optional<tool_process> holder;
    if (c.held_for > 0) {
      holder.emplace(hold(c.destination, c.held_for));
    }
    swept.run = run_injected(suite.tool_with_faults, c.args, fault, options);
    holder.reset();
    // The wine server closes the handles of a program that ended, removing
    // the files they were to delete, a moment after it ends.
    for (int i = 0; i < 20; ++i) {
      swept.after = files_in(dir.path());
      swept.temporary = files_in(temporary_.path());
      if (swept.temporary.empty() &&
          std::all_of(swept.after.begin(), swept.after.end(),
                      [&](const auto& file) {
                        return swept.before.count(file.first) != 0 ||
                               file.first == c.destination;
                      })) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return swept.run.result.lingered && tries > 1 ? run_case(fault, tries - 1)
                                                  : swept;
  }

  // How the run broke the promise, if it did.
  std::vector<std::string> broken_promises(const swept_run& swept,
                                           const win32_fault& fault) const {
    const sweep_case& c = GetParam();
    const run_result& result = swept.run.result;
    const bool ctrl_c = fault.what == win32_fault::kind::ctrl_c;
    std::vector<std::string> broken;
    // Without a fault, or on a volume without file IDs, the run succeeds.
    if (fault.what != win32_fault::kind::failure &&
        fault.what != win32_fault::kind::ctrl_c && result.status != 0) {
      broken.push_back("failed where nothing went wrong");
    }
    std::string message = result.err;
    message.erase(std::remove(message.begin(), message.end(), '\r'),
                  message.end());
    file_set expected = swept.before;
    file_set temporary = swept.temporary;
    // A copy of the old contents that the run could not remove is named.
    const std::smatch kept = kept_copy(message);
    if (!kept.empty() && c.previous) {
      const std::string copy =
          std::filesystem::path(kept[1].str()).filename().string();
      if (temporary[copy] != *c.previous) {
        broken.push_back("the kept copy holds " + what_holds(temporary[copy]));
      }
      temporary.erase(copy);
      message = kept.prefix();
    }
    if (result.status == 0) {
      if (!message.empty()) {
        broken.push_back("status 0, saying \"" + message + "\"");
      }
      if (c.destination != nullptr) {
        expected[c.destination] = wrapped(TEXT);
      } else if (c.args[1] == "-" &&
                 result.out != as_on_standard_stream(wrapped(TEXT))) {
        broken.push_back("status 0, with " + what_holds(result.out) +
                         " on standard output");
      }
      // Ctrl-C must stop a commit still to come: a call or more before the
      // one that puts the new file in place (the check for it may come
      // last before that call), or before the old bytes of a file to be
      // written in place are saved.
      const auto commits = [](const std::string& call) {
        return call.starts_with("SetFileInformationByHandle FileRenameInfo") ||
               call.starts_with("MoveFileExW") ||
               call.starts_with("ReplaceFileW");
      };
      const auto saves = [&](const std::string& call) {
        return c.destination != nullptr &&
               call == "ReadFile " + std::string(c.destination);
      };
      const std::vector<std::string>& calls = swept.run.calls;
      const auto first_commit =
          std::find_if(calls.begin(), calls.end(), commits);
      if (ctrl_c && fault.call <= calls.size() &&
          ((first_commit != calls.end() &&
            first_commit - calls.begin() >= static_cast<long>(fault.call)) ||
           std::any_of(calls.begin() + fault.call - 1, calls.end(), saves))) {
        broken.push_back("status 0: Ctrl-C before the commit went unheeded");
      }
    } else {
      if (!kept.empty() && c.previous) {
        expected[c.destination] = swept.after.count(c.destination) != 0
                                      ? swept.after.at(c.destination)
                                      : "";
      }
      if (!ctrl_c && result.status != FAILURE) {
        broken.push_back("status " + std::to_string(result.status));
      }
      if (!ctrl_c && !is_one_message(message)) {
        broken.push_back("saying \"" + message + "\"");
      }
    }
    for (const auto& [name, bytes] : expected) {
      if (swept.after.count(name) == 0) {
        broken.push_back(name + " is gone");
      } else if (swept.after.at(name) != bytes) {
        broken.push_back(name + " holds " + what_holds(swept.after.at(name)) +
                         ", not " + what_holds(bytes));
      }
    }
    for (const auto& [name, bytes] : swept.after) {
      if (expected.count(name) == 0) {
        broken.push_back(name + " left behind");
      }
    }
    for (const auto& [name, bytes] : temporary) {
      broken.push_back(name + " left in the temporary directory");
    }
    return broken;
  }

  // The second line of a failed overwrite in place, naming where the old
  // contents are kept.
  static std::smatch kept_copy(const std::string& message) {
    static const std::regex line(
        "The previous contents of '[^']*' are kept in "
        "'[^']*\\\\([^'\\\\]*)'\\.\n$");
    std::smatch match;
    std::regex_search(message, match, line);
    return match;
  }

  bool is_one_message(const std::string& message) const {
    const std::string& input = GetParam().args[0];
    const std::string& output = GetParam().args[1];
    return message == "Failed opening '" + input + "' to read.\n" ||
           message == "Failed reading '" + input + "'.\n" ||
           message == "Failed opening '" + output + "' to write.\n" ||
           message == "Failed writing '" + output + "'.\n" ||
           (input == "-" && message == "Input file is too large.\n");
  }

  scratch_directory temporary_;
};

TEST_P(fault_sweep, every_fault_keeps_the_promise) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> violations;
  unsigned runs = 0;
  // Runs the case with `fault` and keeps how it broke the promise, naming
  // the call concerned as that very run listed it.
  std::vector<std::string> calls;
  const auto sweep = [&](const win32_fault& fault, const std::string& before,
                         const std::string& after) {
    const swept_run swept = run_case(fault);
    ++runs;
    const std::vector<std::string>& listed =
        swept.run.calls.size() >= fault.call ? swept.run.calls : calls;
    const std::string what =
        fault.call == 0 ? before + after
                        : before + "call " + std::to_string(fault.call) + " (" +
                              listed[fault.call - 1] + ")" + after;
    for (const std::string& broken : broken_promises(swept, fault)) {
      violations.push_back(what + ": " + broken);
    }
    return swept.run.calls;
  };
  calls = sweep({}, "without a fault", "");
  for (unsigned call = 1; call <= calls.size(); ++call) {
    for (const win32_error& error : errors_for(calls[call - 1])) {
      sweep({win32_fault::kind::failure, call, error.code, {}}, "",
            std::string(" failing with ") + error.name);
    }
    sweep({win32_fault::kind::ctrl_c, call, 0, {}}, "Ctrl-C before ", "");
  }
  // A volume whose file system gives no file IDs, as FAT's does.
  const std::string no_ids = "GetFileInformationByHandleEx FileIdInfo";
  sweep({win32_fault::kind::failures, 0, INVALID_PARAMETER.code, no_ids},
        "every " + no_ids + " failing with " + INVALID_PARAMETER.name, "");
  for (const std::string& violation : violations) {
    ADD_FAILURE() << GetParam().name << ", " << violation;
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  std::printf("[ sweep    ] %s: %zu calls, %u runs in %.1f s, %zu violations\n",
              GetParam().name, calls.size(), runs, took.count(),
              violations.size());
}

INSTANTIATE_TEST_SUITE_P(windows, fault_sweep, ::testing::ValuesIn(SWEEP_CASES),
                         [](const auto& swept_case) {
                           return swept_case.param.name;
                         });

}  // namespace
}  // namespace upgrade_info::testing
