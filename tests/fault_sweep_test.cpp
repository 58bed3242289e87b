// Every system call of a run, failing in turn: for each kind of destination
// the programs meet, the run is made once to list the calls the program
// makes, then once per call with that one call failing (EIO; ENOSPC where
// room may be wanted) and once with SIGTERM arriving at it, through
// strace's fault injection, which leaves the program untouched. After
// every run the promise is checked: status 0 means exactly the new file in
// place and nothing else changed; a failure means every file as it was,
// nothing made and nothing left behind (but a kept copy of the old
// contents, named on standard error), and a message unless a signal ended
// the run.

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "tool_fixture.h"

namespace upgrade_info::testing {
namespace {

namespace fs = std::filesystem;

// What a directory holds, entry by entry: type, permissions, owner, group,
// and a file's bytes or a link's target.
using tree = std::map<std::string, std::string>;

tree snapshot(const fs::path& root) {
  tree entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat status {};
    lstat(entry.path().c_str(), &status);
    std::ostringstream described;
    char acl[64] = {};
    const ssize_t acl_size = lgetxattr(
        entry.path().c_str(), "system.posix_acl_access", acl, sizeof acl);
    described << std::oct << status.st_mode << ' ' << std::dec << status.st_uid
              << ':' << status.st_gid << ' '
              << std::string(
                     acl, acl_size > 0 ? static_cast<std::size_t>(acl_size) : 0)
              << ' ';
    if (S_ISREG(status.st_mode)) {
      std::ifstream file(entry.path(), std::ios::binary);
      described << file.rdbuf();
    } else if (S_ISLNK(status.st_mode)) {
      described << fs::read_symlink(entry.path()).string();
    }
    entries[entry.path().lexically_relative(root).string()] = described.str();
  }
  return entries;
}

struct sweep_case {
  std::vector<std::string> args;
  // The file, relative to the work directory, that a run which succeeds
  // gives the new contents; empty when they go to standard output.
  std::string changed;
  std::string expected;  // the new contents
  std::string old;       // the changed file's old contents, if it had any
  // A file the user may write but not read, which is overwritten in place
  // unsaved: a failure may leave it part new.
  bool unsaved = false;
  bool as_nobody = false;
  std::vector<std::string> launcher;  // what runs strace, as unshare
  std::vector<std::string> environment;
  std::optional<std::string> stdin_bytes;
};

struct scenario {
  const char* name;
  bool needs_root;
  // Makes the files in `work` and says how the run goes.
  std::function<sweep_case(const fs::path& work)> setup;
  bool preloads = false;  // the fault-injection library, into the program
};

void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void give(const fs::path& path, uid_t owner, mode_t mode) {
  ASSERT_EQ(lchown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

// A system call of the program's own, by name and by how many of its name
// came before it (as strace counts them, from 1).
struct call {
  std::string name;
  int number;
};

class system_call_sweep : public upgrade_info_tool,
                          public ::testing::WithParamInterface<scenario> {
 protected:
  void SetUp() override {
    if (!runs_natively() || is_windows_build()) {
      GTEST_SKIP() << "strace runs native Linux programs";
    }
    if (std::system("strace -qq -o /dev/null true 2>/dev/null") != 0) {
      GTEST_SKIP() << "needs strace, and leave to trace";
    }
    if (suite.sanitized) {
      GTEST_SKIP() << "the sanitizers' runtime makes calls of its own";
    }
    if (GetParam().needs_root && geteuid() != 0) {
      GTEST_SKIP() << "needs root, to set up files of other users";
    }
    if (GetParam().preloads && !can_inject_faults()) {
      GTEST_SKIP() << "needs a program that a library can be preloaded into";
    }
    fs::permissions(dir.path(), fs::perms{0755});
  }

  void TearDown() override { clear_flags(); }

  // Takes back the file flags and mounts a case set, so that its files can
  // go.
  void clear_flags() const {
    if (fs::exists(dir / "work")) {
      const std::string work = (dir / "work").string();
      (void)std::system(("chattr -R -a " + work + " 2>/dev/null; umount " +
                         work + "/bound.txt 2>/dev/null")
                            .c_str());
    }
  }

  // A fresh work directory and temporary directory, the case set up in
  // them.
  sweep_case prepare() const {
    clear_flags();
    fs::remove_all(dir / "work");
    fs::remove_all(dir / "tmp");
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "tmp");
    fs::permissions(dir / "work", fs::perms{0777});
    fs::permissions(dir / "tmp", fs::perms{01777});
    return GetParam().setup(dir / "work");
  }

  run_result run_traced(const sweep_case& c,
                        const std::vector<std::string>& tracing) const {
    std::vector<std::string> words = c.launcher;
    words.insert(words.end(),
                 {"strace", "-qq", "-E", "TMPDIR=" + (dir / "tmp").string()});
    for (const std::string& variable : c.environment) {
      words.insert(words.end(), {"-E", variable});
    }
    if (c.as_nobody) {
      words.insert(words.end(), {"-u", "nobody"});
    }
    words.insert(words.end(), tracing.begin(), tracing.end());
    const program traced{words, c.args.front() == "-x"
                                    ? suite.checker.executable
                                    : suite.tool.executable};
    run_options options;
    options.directory = dir / "work";
    options.stdin_bytes = c.stdin_bytes;
    options.umask = 022;
    return tool_process(traced, c.args, options).wait();
  }

  // The calls a run makes from the start of the program's own code, which
  // asks first whether standard input is open.
  std::vector<call> calls_of(const sweep_case& c) const {
    const fs::path log = dir / "calls";
    const run_result result = run_traced(c, {"-o", log.string()});
    EXPECT_EQ(result.status, 0) << "without a fault: " << result.err;
    std::ifstream trace(log);
    std::map<std::string, int> counts;
    std::vector<call> calls;
    bool started = false;
    for (std::string line; std::getline(trace, line);) {
      const std::size_t paren = line.find('(');
      if (paren == std::string::npos || line.starts_with("---")) {
        continue;
      }
      const std::string name = line.substr(0, paren);
      const int number = ++counts[name];
      started = started || line.starts_with("fcntl(0, F_GETFD)");
      if (started) {
        calls.push_back({name, number});
      }
    }
    fs::remove(log);
    return calls;
  }

  // The violations of the promise by a run with `fault` injected.
  std::string check(const sweep_case& c, const tree& before,
                    const run_result& result) const {
    const tree after = snapshot(dir / "work");
    tree kept = snapshot(dir / "tmp");
    std::ostringstream wrong;
    // A copy of the old contents kept in the temporary directory is named
    // on standard error, and holds them whole.
    const std::string kept_line = "are kept in '";
    const std::size_t at = result.err.find(kept_line);
    if (at != std::string::npos) {
      const std::size_t from = at + kept_line.size();
      const std::string path =
          result.err.substr(from, result.err.find('\'', from) - from);
      std::ifstream copy(path, std::ios::binary);
      std::ostringstream bytes;
      bytes << copy.rdbuf();
      if (bytes.str() != c.old) {
        wrong << "the kept copy is not the old contents; ";
      }
      kept.erase(fs::path(path).filename().string());
    }
    if (result.status == 0) {
      tree expected = before;
      if (!c.changed.empty()) {
        std::string& entry = expected[c.changed];
        if (entry.empty()) {
          entry = "100644 " + std::to_string(c.as_nobody ? NOBODY : 0) + ":" +
                  std::to_string(c.as_nobody ? NOBODY : 0) + "  ";
        }
        entry =
            entry.substr(0, c.old.empty() ? entry.size() : entry.rfind(c.old)) +
            c.expected;
      }
      if (after != expected) {
        wrong << "status 0, but the files are not exactly the new ones; ";
      }
      if (c.changed.empty() && result.out != c.expected) {
        wrong << "status 0, but standard output is not the new file; ";
      }
      if (!result.err.empty() && at == std::string::npos) {
        wrong << "status 0 with a message: " << result.err;
      }
    } else {
      tree unchanged = after;
      tree expected = before;
      if (at != std::string::npos || c.unsaved) {
        unchanged.erase(c.changed);
        expected.erase(c.changed);
      }
      if (unchanged != expected) {
        wrong << "failed, but the files changed; ";
      }
      const int failure = c.args.front() == "-x" ? 1 : FAILURE;
      if (result.signal == 0 &&
          (result.status != failure || result.err.empty())) {
        wrong << "failed with status " << result.status << " and message '"
              << result.err << "'; ";
      }
    }
    if (!kept.empty()) {
      wrong << "left " << kept.begin()->first
            << " in the temporary directory; ";
    }
    return wrong.str();
  }
};

TEST_P(system_call_sweep, every_call_failing_in_turn_keeps_the_promise) {
  const std::vector<call> calls = calls_of(prepare());
  ASSERT_GT(calls.size(), 10u) << "strace listed no calls of the program";
  // Where a lack of room is a fault of its own.
  const std::vector<std::string> allocating = {
      "openat",    "write",    "pwrite64",  "ftruncate", "linkat",
      "renameat2", "renameat", "fsetxattr", "close"};
  int runs = 0;
  std::vector<std::string> violations;
  for (const call& at : calls) {
    std::vector<std::string> faults = {"error=EIO", "signal=SIGTERM"};
    if (std::find(allocating.begin(), allocating.end(), at.name) !=
        allocating.end()) {
      faults.push_back("error=ENOSPC");
    }
    for (const std::string& fault : faults) {
      const sweep_case c = prepare();
      const tree before = snapshot(dir / "work");
      const run_result result =
          run_traced(c, {"-f", "--seccomp-bpf", "-o", "/dev/null", "-e",
                         "trace=" + at.name, "-e",
                         "inject=" + at.name + ":" + fault +
                             ":when=" + std::to_string(at.number)});
      ++runs;
      const std::string wrong = check(c, before, result);
      if (!wrong.empty()) {
        violations.push_back(at.name + " #" + std::to_string(at.number) + " " +
                             fault + ": " + wrong);
      }
    }
  }
  std::cout << runs << " runs, " << violations.size() << " violations\n";
  for (const std::string& violation : violations) {
    ADD_FAILURE() << violation;
  }
}

const std::string TEXT = "release notes\nline two\n";
// Old contents longer than the new ones, over more than one piece that the
// programs copy at a time, for the files that are written in place.
const std::string LONG_OLD = random_text((1 << 20) + 4096, 30);
// Runs strace and the program where /proc is an empty file system.
const std::vector<std::string> WITHOUT_PROC = {
    "unshare", "-m", "sh", "-c", "mount -t tmpfs none /proc && exec \"$@\"",
    "sh"};

sweep_case replacing(std::string output, std::string changed, std::string old) {
  sweep_case c;
  c.args = {"in.txt", std::move(output)};
  c.changed = std::move(changed);
  c.expected = wrapped(TEXT);
  c.old = std::move(old);
  return c;
}

const scenario SCENARIOS[] = {
    {"existing_file", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", "previous contents");
       fs::permissions(work / "out.txt", fs::perms{0640});
       // An access ACL: user::rw-, user:nobody:rw-, group::r--, mask::rw-,
       // other::---.
       const unsigned char acl[] = {
           2,    0,    0,    0,    1,    0,    6,    0,    0xff, 0xff, 0xff,
           0xff, 2,    0,    6,    0,    0xfe, 0xff, 0,    0,    4,    0,
           4,    0,    0xff, 0xff, 0xff, 0xff, 0x10, 0,    6,    0,    0xff,
           0xff, 0xff, 0xff, 0x20, 0,    0,    0,    0xff, 0xff, 0xff, 0xff};
       setxattr((work / "out.txt").c_str(), "system.posix_acl_access", acl,
                sizeof acl, 0);
       fs::create_hard_link(work / "out.txt", work / "partner.txt");
       return replacing("out.txt", "out.txt", "previous contents");
     }},
    {"missing_file", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       return replacing("new.txt", "new.txt", "");
     }},
    {"symbolic_link", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "real");
       write(work / "real/target.txt", "previous contents");
       fs::create_symlink("real/target.txt", work / "link.txt");
       return replacing("link.txt", "real/target.txt", "previous contents");
     }},
    {"dangling_link", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "real");
       fs::create_symlink("real/absent.txt", work / "link.txt");
       return replacing("link.txt", "real/absent.txt", "");
     }},
    {"input_as_output", false,
     [](const fs::path& work) {
       write(work / "notes.txt", TEXT);
       sweep_case c = replacing("notes.txt", "notes.txt", TEXT);
       c.args.front() = "notes.txt";
       return c;
     }},
    {"piped_input_to_standard_output", false,
     [](const fs::path&) {
       sweep_case c = replacing("-", "", "");
       c.args.front() = "-";
       c.stdin_bytes = TEXT;
       return c;
     }},
    {"output_the_caller_holds_open", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", "previous contents");
       sweep_case c = replacing("out.txt", "out.txt", "previous contents");
       c.launcher = {"sh", "-c", "exec 9>>out.txt && exec \"$@\"", "sh"};
       return c;
     }},
    {"no_unnamed_files", false,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", "previous contents");
       sweep_case c = replacing("out.txt", "out.txt", "previous contents");
       c.environment = {"LD_PRELOAD=" + suite.fault_injection,
                        "FAULT_NO_TMPFILE=1"};
       return c;
     },
     true},
    {"no_proc", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", "previous contents");
       fs::create_hard_link(work / "out.txt", work / "partner.txt");
       fs::create_symlink("out.txt", work / "link.txt");
       sweep_case c = replacing("link.txt", "out.txt", "previous contents");
       c.launcher = WITHOUT_PROC;
       return c;
     }},
    {"no_proc_as_another_user", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", "previous contents");
       give(work / "out.txt", NOBODY, 0644);
       sweep_case c = replacing("out.txt", "out.txt", "previous contents");
       c.as_nobody = true;
       c.launcher = WITHOUT_PROC;
       return c;
     }},
    {"directory_refusing_new_files", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "locked");
       write(work / "locked/out.txt", LONG_OLD);
       give(work / "locked/out.txt", NOBODY, 04755);
       give(work / "locked", 0, 0555);
       sweep_case c = replacing("locked/out.txt", "locked/out.txt", LONG_OLD);
       c.as_nobody = true;
       return c;
     }},
    {"write_only_file_in_place", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "locked");
       write(work / "locked/out.txt", "previous contents");
       give(work / "locked/out.txt", 0, 0622);
       give(work / "locked", 0, 0555);
       sweep_case c =
           replacing("locked/out.txt", "locked/out.txt", "previous contents");
       c.as_nobody = true;
       c.unsaved = true;
       return c;
     }},
    {"access_that_cannot_be_kept", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       write(work / "out.txt", LONG_OLD);
       give(work / "out.txt", 0, 0666);
       sweep_case c = replacing("out.txt", "out.txt", LONG_OLD);
       c.as_nobody = true;
       return c;
     }},
    {"sticky_directory", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "shared");
       write(work / "shared/out.txt", LONG_OLD);
       give(work / "shared/out.txt", 0, 0666);
       give(work / "shared", 0, 01777);
       sweep_case c = replacing("shared/out.txt", "shared/out.txt", LONG_OLD);
       c.as_nobody = true;
       return c;
     }},
    {"append_only_directory", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       fs::create_directory(work / "kept");
       write(work / "kept/out.txt", LONG_OLD);
       EXPECT_EQ(std::system(("chattr +a " + (work / "kept").string()).c_str()),
                 0);
       return replacing("kept/out.txt", "kept/out.txt", LONG_OLD);
     }},
    {"bind_mounted_file", true,
     [](const fs::path& work) {
       write(work / "in.txt", TEXT);
       // The mounted file lives beside the work directory, so that only its
       // place in it shows there.
       write(work.parent_path() / "source.txt", LONG_OLD);
       write(work / "bound.txt", "");
       const std::string mount = "mount --bind " +
                                 (work.parent_path() / "source.txt").string() +
                                 " " + (work / "bound.txt").string();
       EXPECT_EQ(std::system(mount.c_str()), 0);
       return replacing("bound.txt", "bound.txt", LONG_OLD);
     }},
    {"checker_extracting", false,
     [](const fs::path& work) {
       write(work / "info.ui", wrapped(TEXT));
       sweep_case c = replacing("", "", "");
       c.args = {"-x", "info.ui"};
       c.expected = TEXT;
       return c;
     }},
};

INSTANTIATE_TEST_SUITE_P(kinds_of_destination, system_call_sweep,
                         ::testing::ValuesIn(SCENARIOS),
                         [](const ::testing::TestParamInfo<scenario>& kind) {
                           return std::string(kind.param.name);
                         });

}  // namespace
}  // namespace upgrade_info::testing
