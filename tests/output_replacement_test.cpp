// The output replaces its destination whole or not at all: every way a run
// can fail while writing leaves the destination and its directory exactly
// as they were, and the system's rules on who may write what hold as for
// any program writing the file.

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tool_fixture.h"

namespace upgrade_info::testing {
namespace {

namespace fs = std::filesystem;

fs::perms permissions_of(const fs::path& path) {
  return fs::status(path).permissions();
}

struct stat status_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

// File capabilities, version 2: CAP_NET_BIND_SERVICE permitted and
// effective.
constexpr unsigned char CAPABILITY[] = {1, 0, 0, 2, 0, 4, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// A mount (a small tmpfs, or a file bound over another) for one test.
class mount_point {
 public:
  mount_point(const fs::path& source, const fs::path& target, const char* type,
              unsigned long flags, const std::string& options)
      : target_(target),
        mounted_(mount(source.c_str(), target.c_str(), type, flags,
                       options.c_str()) == 0) {}
  mount_point(const mount_point&) = delete;
  mount_point& operator=(const mount_point&) = delete;
  ~mount_point() {
    if (mounted_) {
      umount2(target_.c_str(), MNT_DETACH);
    }
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path target_;
  bool mounted_;
};

// An inode flag (as chattr sets) on a directory for one test.
class inode_flag {
 public:
  inode_flag(const fs::path& path, int flag)
      : descriptor_(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        flag_(flag) {
    int flags = 0;
    set_ = descriptor_ >= 0 &&
           ioctl(descriptor_, FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags |= flag, ioctl(descriptor_, FS_IOC_SETFLAGS, &flags) == 0);
  }
  inode_flag(const inode_flag&) = delete;
  inode_flag& operator=(const inode_flag&) = delete;
  ~inode_flag() {
    int flags = 0;
    if (set_ && ioctl(descriptor_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~flag_;
      ioctl(descriptor_, FS_IOC_SETFLAGS, &flags);
    }
    if (descriptor_ >= 0) {
      close(descriptor_);
    }
  }
  bool set() const { return set_; }

 private:
  int descriptor_;
  int flag_;
  bool set_ = false;
};

// A small file system of `type` in an image file, made and mounted at
// `target` for one test by the system's own commands, through a loop
// device: btrfs by the kernel, exFAT through FUSE.
class image_file_system {
 public:
  image_file_system(const fs::path& image, const fs::path& target,
                    const std::string& type, std::uintmax_t size)
      : image_(image), target_(target) {
    fs::create_directory(target);
    std::ofstream(image).close();
    fs::resize_file(image, size);
    const std::string mount = type == "btrfs" ? "mkfs.btrfs -q --mixed "
                                                "$image && mount $device "
                                              : "mkfs.exfat $image && "
                                                "mount.exfat-fuse $device ";
    mounted_ = std::system(("image=" + image.string() +
                            " && device=$(losetup --find --show $image) && " +
                            mount + target.string() + " >/dev/null 2>&1")
                               .c_str()) == 0;
  }
  image_file_system(const image_file_system&) = delete;
  image_file_system& operator=(const image_file_system&) = delete;
  ~image_file_system() {
    umount2(target_.c_str(), MNT_DETACH);
    const std::string detach = "losetup --associated " + image_.string() +
                               " | cut -d: -f1 | xargs -r losetup --detach";
    (void)std::system(detach.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path image_;
  fs::path target_;
  bool mounted_ = false;
};

// Makes empty files in `directory` until its file system has no inode left.
void use_every_inode(const fs::path& directory) {
  for (int n = 0;; ++n) {
    const int file = open((directory / ("filler" + std::to_string(n))).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) {
      ASSERT_EQ(errno, ENOSPC);
      return;
    }
    close(file);
  }
}

class output_replacement : public upgrade_info_tool {
 protected:
  static bool has_posix_files() { return !is_windows_build(); }
  // Whether the case may change the machine: mount, set kernel settings
  // and file flags, and run the tool as another user.
  static bool may_change_the_machine() {
    return has_posix_files() && geteuid() == 0;
  }
  // The owner, group and permissions that the run as "nobody" needs.
  void hand_to_nobody(const fs::path& path, mode_t mode) const {
    ASSERT_EQ(chown(path.c_str(), NOBODY, NOBODY), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
};

TEST_F(output_replacement, file_size_limit_leaves_every_destination_as_it_was) {
  if (is_windows_build()) {
    GTEST_SKIP() << "wine reports a write cut short by the limit as whole";
  }
  // The limit cuts the small input's one write short, and stops the large
  // one's writes midway. The tool itself must ignore the limit's signal.
  // Names and
  // paths at the system's limits leave no room for a temporary's name
  // beside them unless it is cut short and made in the directory itself;
  // their messages need a higher limit, which only the large input passes.
  const std::string longest_name(255, 'n');
  std::string longest_path;
  while (longest_path.size() < 4088) {
    longest_path += "./";
  }
  longest_path += "o";
  constexpr std::size_t SMALL = 60;
  constexpr std::size_t LARGE = std::size_t{1} << 20;
  const struct {
    std::string output;
    std::size_t size;
    std::uint64_t limit;
  } cases[] = {
      {"new.txt", SMALL, 100},     {"old.txt", SMALL, 100},
      {"in.txt", SMALL, 100},      {"new.txt", LARGE, 100},
      {"old.txt", LARGE, 100},     {"in.txt", LARGE, 100},
      {longest_name, LARGE, 8192}, {longest_path, LARGE, 8192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.substr(0, 20) + ", " + std::to_string(c.size));
    const std::string text = random_text(c.size, 4);
    dir.write("in.txt", text);
    for (const std::string& name :
         {std::string("old.txt"), longest_name, std::string("o")}) {
      dir.write(name, "previous contents");
    }
    run_options limited;
    limited.file_size_limit = c.limit;
    expect_failure(run({"in.txt", c.output}, limited),
                   "Failed writing '" + c.output + "'.\n");
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", longest_name,
                                                       "o", "old.txt"}));
    EXPECT_EQ(dir.read("in.txt"), text);
    EXPECT_EQ(dir.read("old.txt"), "previous contents");
    EXPECT_EQ(dir.read(longest_name), "previous contents");
    EXPECT_EQ(dir.read("o"), "previous contents");
  }
}

TEST_F(output_replacement, no_room_for_a_temporary_is_a_failure) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to mount a small file system";
  }
  fs::create_directory(dir / "small");
  const mount_point small("tmpfs", dir / "small", "tmpfs", 0,
                          "size=1m,nr_inodes=16");
  ASSERT_TRUE(small.mounted());
  dir.write("small/notes.txt", "release notes\n");
  use_every_inode(dir / "small");
  const std::size_t entries =
      scratch_directory::listing_of(dir / "small").size();
  // Writing the file in place would fit, but is never done for this.
  expect_failure(run({"small/notes.txt", "small/notes.txt"}),
                 "Failed writing 'small/notes.txt'.\n");
  EXPECT_EQ(dir.read("small/notes.txt"), "release notes\n");
  EXPECT_EQ(scratch_directory::listing_of(dir / "small").size(), entries);
}

TEST_F(output_replacement, in_place_without_room_leaves_the_old_contents) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to mount and to run the tool as nobody";
  }
  // A file system too small for the new contents, holding a destination
  // that is written in place: one in a directory that refuses "nobody" a
  // new file, one bound over another file, which no rename can replace.
  fs::create_directory(dir / "small");
  const mount_point small("tmpfs", dir / "small", "tmpfs", 0, "size=64k");
  ASSERT_TRUE(small.mounted());
  fs::permissions(dir.path(), fs::perms{0755});
  const std::string text = random_text(16 << 10, 5);
  dir.write("in.txt", text);
  fs::create_directory(dir / "small/locked");
  dir.write("small/locked/out.txt", "previous contents");
  hand_to_nobody(dir / "small/locked/out.txt", 0644);
  ASSERT_EQ(chmod((dir / "small/locked").c_str(), 0555), 0);
  dir.write("small/bound.txt", "previous contents");
  dir.write("bound.txt", "");
  const mount_point bound(dir / "small/bound.txt", dir / "bound.txt", nullptr,
                          MS_BIND, "");
  ASSERT_TRUE(bound.mounted());
  run_options unprivileged;
  unprivileged.as_nobody = true;

  for (const bool room : {false, true}) {
    SCOPED_TRACE(room ? "with room" : "without room");
    dir.write("small/filler", room ? "" : random_text(48 << 10, 6));
    for (const auto& [output, options] :
         {std::pair{"small/locked/out.txt", unprivileged},
          std::pair{"bound.txt", run_options{}}}) {
      SCOPED_TRACE(output);
      const run_result result = run({"in.txt", output}, options);
      if (room) {
        expect_success(result);
        EXPECT_EQ(dir.read(output), wrapped(text));
      } else {
        expect_failure(result,
                       "Failed writing '" + std::string(output) + "'.\n");
        EXPECT_EQ(dir.read(output), "previous contents");
      }
    }
  }
  EXPECT_EQ(status_of(dir / "small/locked/out.txt").st_uid, NOBODY);
  EXPECT_EQ(scratch_directory::listing_of(dir / "small/locked"),
            std::vector<std::string>{"out.txt"});
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"bound.txt", "in.txt", "small"}));
}

TEST_F(output_replacement, destination_beyond_a_rename_is_written_in_place) {
  if (!can_inject_faults()) {
    GTEST_SKIP() << "needs a tool that a library can be preloaded into";
  }
  dir.write("in.txt", "new text\n");
  // Another device, a mount point, a sticky directory's refusal.
  for (const int error : {EXDEV, EBUSY, EPERM}) {
    SCOPED_TRACE(error);
    dir.write("old.txt", "previous contents, longer than what replaces them");
    run_options refused;
    refused.faults = {"FAULT_PATH=" + dir.path().string(),
                      "FAULT_RENAME=" + std::to_string(error)};
    expect_success(run({"in.txt", "old.txt"}, refused));
    EXPECT_EQ(dir.read("old.txt"), wrapped("new text\n"));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "old.txt"}));
  }
}

TEST_F(output_replacement, commit_replaces_what_the_name_reaches_then) {
  if (!can_inject_faults()) {
    GTEST_SKIP() << "needs a tool that a library can be preloaded into";
  }
  // Another program changes the destination just before the commit: what
  // the name reaches then is replaced, with its access, or, where it is no
  // regular file, nothing is. A rename the system refuses then (EPERM)
  // leads to writing in place, into the file checked, never through what
  // was put at the temporary's name.
  fs::permissions(dir.path(), fs::perms{0755});
  dir.write("in.txt", "new text\n");
  dir.write("secret.txt", "the runner's own");
  const std::string failed = "Failed writing 'out.txt'.\n";
  const std::string chown_nobody =
      " && chown " + std::to_string(NOBODY) + ":" + std::to_string(NOBODY);
  const struct {
    std::string when;  // the fault-injection library's moment
    std::string act;
    bool refused_rename;
    std::string message;
    std::string result;  // what out.txt holds after, or its link's target
    mode_t mode;
    uid_t owner;
    // Names of another program's that it leaves, which the run leaves alone.
    std::vector<std::string> left = {};
  } cases[] = {
      {"WRITE", "chmod 600 out.txt", false, "", wrapped("new text\n"), 0600, 0},
      {"WRITE",
       "echo theirs > b" + chown_nobody + " b && chmod 660 b && mv b out.txt",
       false, "", wrapped("new text\n"), 0660, NOBODY},
      {"LINK", "rm out.txt", false, "", wrapped("new text\n"), 0644, 0},
      {"LINK", "rm out.txt && mkfifo out.txt", false, failed, "", 0, 0},
      {"RENAME", "ln -sfn secret.txt out.txt", false, failed, "secret.txt", 0,
       0},
      {"RENAME", "ln -sfn secret.txt \"$FAULT_FROM\"", true, "",
       wrapped("new text\n"), 0644, 0},
      {"RENAME", "echo other > b && mv b \"$FAULT_TO\"", true, failed,
       "other\n", 0644, 0},
      // In a directory others may write, another user's file is put at the
      // temporary's name: it is never committed, and never removed.
      {"RENAME",
       "mv \"$FAULT_FROM\" stolen && echo theirs > \"$FAULT_FROM\" && "
       "mv \"$FAULT_FROM\" theirs",
       false,
       failed,
       "previous contents",
       0644,
       0,
       {"stolen", "theirs"}},
  };
  for (const auto& c : cases) {
    if (c.owner != 0 && geteuid() != 0) {
      continue;
    }
    SCOPED_TRACE(c.act);
    fs::remove(dir / "out.txt");
    dir.write("out.txt", "previous contents");
    fs::permissions(dir / "out.txt", fs::perms{0644});
    run_options acting;
    acting.faults = {"FAULT_PATH=" + dir.path().string(),
                     "FAULT_BEFORE_" + c.when + "=" + c.act};
    if (c.refused_rename) {
      acting.faults.push_back("FAULT_RENAME=" + std::to_string(EPERM));
    }
    acting.umask = 022;
    // A FIFO at the name must not keep the run waiting.
    const program waiting{{"timeout", "-s", "KILL", "10"},
                          suite.tool.executable};
    run_options in_dir = acting;
    in_dir.directory = dir.path();
    in_dir.fault_injection = suite.fault_injection;
    const run_result result =
        tool_process(waiting, {"in.txt", "out.txt"}, in_dir).wait();
    EXPECT_EQ(result.status, c.message.empty() ? 0 : FAILURE);
    EXPECT_EQ(result.err, c.message);
    if (fs::is_fifo(dir / "out.txt")) {
      EXPECT_EQ(c.result, "");
    } else if (fs::is_symlink(dir / "out.txt")) {
      EXPECT_EQ(fs::read_symlink(dir / "out.txt"), c.result);
    } else {
      EXPECT_EQ(dir.read("out.txt"), c.result);
      EXPECT_EQ(status_of(dir / "out.txt").st_mode & 07777, c.mode);
      EXPECT_EQ(status_of(dir / "out.txt").st_uid, c.owner);
    }
    EXPECT_EQ(dir.read("secret.txt"), "the runner's own");
    std::vector<std::string> listing = {"in.txt", "out.txt", "secret.txt"};
    listing.insert(listing.end(), c.left.begin(), c.left.end());
    std::sort(listing.begin(), listing.end());
    EXPECT_EQ(dir.listing(), listing);
    for (const std::string& name : c.left) {
      fs::remove(dir / name);
    }
  }
}

TEST_F(output_replacement, runs_on_one_output_take_turns) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to run the tool as nobody and set file flags";
  }
  // Runs of different inputs at once, replacing an output that has another
  // link, writing one in place, and making one in a directory that keeps
  // every name: none fails, and the output is always one run's file whole.
  fs::permissions(dir.path(), fs::perms{0755});
  const std::string texts[] = {random_text(1 << 20, 24),
                               random_text(2 << 20, 25)};
  dir.write("a.txt", texts[0]);
  dir.write("b.txt", texts[1]);
  dir.write("old.txt", "previous contents");
  fs::create_hard_link(dir / "old.txt", dir / "link.txt");
  fs::create_directory(dir / "locked");
  dir.write("locked/out.txt", "previous contents");
  hand_to_nobody(dir / "locked/out.txt", 0644);
  ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
  fs::create_directory(dir / "kept");
  const inode_flag append_only(dir / "kept", FS_APPEND_FL);
  ASSERT_TRUE(append_only.set());
  run_options unprivileged;
  unprivileged.as_nobody = true;
  const struct {
    std::string output;
    run_options options;
  } outputs[] = {
      {"old.txt", {}}, {"locked/out.txt", unprivileged}, {"kept/new.txt", {}}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.output);
    for (int round = 0; round < 8; ++round) {
      std::vector<tool_process> runs;
      for (int i = 0; i < 4; ++i) {
        runs.push_back(start({i % 2 ? "b.txt" : "a.txt", o.output}, o.options));
      }
      for (tool_process& one : runs) {
        expect_success(one.wait());
      }
      const std::string result = dir.read(o.output);
      EXPECT_TRUE(result == wrapped(texts[0]) || result == wrapped(texts[1]))
          << "round " << round;
    }
  }
  // A run whose input is the file another overwrites in place reads it
  // whole: here it starts once the other, its writes slowed, is midway,
  // and so wraps the other's file.
  if (can_inject_faults()) {
    const std::string text = random_text(4 << 20, 26);
    dir.write("locked/out.txt", text);
    run_options slowed = unprivileged;
    slowed.faults = {"FAULT_PATH=" + (dir / "locked/out.txt").string(),
                     "FAULT_WRITE_DELAY=100"};
    tool_process first = start({"locked/out.txt", "locked/out.txt"}, slowed);
    for (int i = 0;
         i < 10000 && !dir.read("locked/out.txt").starts_with("CRC:"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tool_process second =
        start({"locked/out.txt", "locked/out.txt"}, unprivileged);
    expect_success(first.wait());
    expect_success(second.wait());
    EXPECT_TRUE(dir.read("locked/out.txt") == wrapped(wrapped(text)));
  }
  EXPECT_EQ(dir.read("link.txt"), "previous contents");
  EXPECT_EQ(scratch_directory::listing_of(dir / "kept"),
            std::vector<std::string>{"new.txt"});
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"a.txt", "b.txt", "kept", "link.txt",
                                      "locked", "old.txt"}));
  EXPECT_EQ(scratch_directory::listing_of(dir / "locked"),
            std::vector<std::string>{"out.txt"});
}

TEST_F(output_replacement, copy_on_write_without_room_loses_nothing) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to mount a file system";
  }
  // On btrfs an overwrite in place takes new blocks, which a full disk
  // lacks midway, and giving the old contents back would take as many
  // again; the temporary directory is on the same disk. Whatever fails,
  // the old contents are in the file or in a kept copy the message names.
  const image_file_system btrfs(dir / "image", dir / "cow", "btrfs", 256 << 20);
  if (!btrfs.mounted()) {
    GTEST_SKIP() << "cannot make and mount a btrfs image (btrfs-progs)";
  }
  const std::string old_text = random_text(40 << 20, 21);
  fs::create_directory(dir / "cow/kept");
  fs::create_directory(dir / "cow/tmp");
  dir.write("cow/kept/notes.txt", old_text);
  const std::string cow = (dir / "cow").string();
  ASSERT_EQ(std::system(("sync -f " + cow +
                         " && fallocate -l $(($(df -B1 "
                         "--output=avail " +
                         cow + " | tail -1) - 95 * 1048576)) " + cow +
                         "/filler && sync -f " + cow)
                            .c_str()),
            0);
  const inode_flag append_only(dir / "cow/kept", FS_APPEND_FL);
  ASSERT_TRUE(append_only.set());
  dir.write("in.txt", random_text(40 << 20, 22));
  run_options spill_here;
  spill_here.environment = {"TMPDIR=" + cow + "/tmp"};
  const run_result result = run({"in.txt", "cow/kept/notes.txt"}, spill_here);
  const std::vector<std::string> kept =
      scratch_directory::listing_of(dir / "cow/tmp");
  // Compared whole, not printed: a diff of megabytes helps no one.
  if (result.status == 0) {
    EXPECT_TRUE(kept.empty());
    EXPECT_TRUE(dir.read("cow/kept/notes.txt") == wrapped(dir.read("in.txt")));
    return;
  }
  std::string message = "Failed writing 'cow/kept/notes.txt'.\n";
  if (kept.empty()) {
    EXPECT_TRUE(dir.read("cow/kept/notes.txt") == old_text);
  } else {
    ASSERT_EQ(kept.size(), 1u);
    message += "The previous contents of 'cow/kept/notes.txt' are kept in '" +
               cow + "/tmp/" + kept[0] + "'.\n";
    EXPECT_TRUE(dir.read("cow/tmp/" + kept[0]) == old_text);
  }
  EXPECT_EQ(result.err, message);
}

TEST_F(output_replacement,
       every_terminating_signal_while_writing_leaves_nothing_behind) {
  if (!can_inject_faults()) {
    GTEST_SKIP() << "needs a tool that a library can be preloaded into";
  }
  dir.write("in.txt", "new text\n");
  dir.write("old.txt", "previous contents");
  const scratch_directory elsewhere;
  const fs::path marker = elsewhere / "writing";
  // An unnamed temporary, and a named one where the file system keeps no
  // unnamed files.
  for (const bool named : {false, true}) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1,
                             SIGPIPE, SIGXCPU}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (named ? ", named" : ""));
      run_options stalled;
      stalled.faults = {"FAULT_PATH=" + dir.path().string(),
                        "FAULT_WRITE_HANG=" + marker.string()};
      if (named) {
        stalled.faults.push_back("FAULT_NO_TMPFILE=1");
      }
      tool_process process = start({"in.txt", "old.txt"}, stalled);
      for (int i = 0; i < 20000 && !fs::exists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_TRUE(fs::remove(marker)) << "the tool never started writing";
      kill(process.pid(), signal);
      const run_result result = process.wait();
      EXPECT_EQ(result.signal, signal);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "old.txt"}));
      EXPECT_EQ(dir.read("old.txt"), "previous contents");
    }
  }
  // One the run was started ignoring (nohup) stays ignored, and stops no
  // commit.
  run_options hung_up;
  hung_up.directory = dir.path();
  hung_up.fault_injection = suite.fault_injection;
  hung_up.faults = {"FAULT_PATH=" + dir.path().string(),
                    "FAULT_BEFORE_LINK=kill -HUP $PPID"};
  const program ignoring{{"nohup"}, suite.tool.executable};
  expect_success(tool_process(ignoring, {"in.txt", "old.txt"}, hung_up).wait());
  EXPECT_EQ(dir.read("old.txt"), wrapped("new text\n"));
}

TEST_F(output_replacement, exfat_takes_cut_names_and_holds_nothing_private) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to mount a file system";
  }
  // exFAT checks that names are whole characters, and through FUSE has no
  // unnamed files: the temporary's name, cut short to fit, must end
  // between two of the 130 two-byte characters.
  const image_file_system exfat(dir / "image", dir / "exfat", "exfat", 8 << 20);
  if (!exfat.mounted()) {
    GTEST_SKIP() << "cannot make and mount an exFAT image (exfatprogs, "
                    "exfat-fuse)";
  }
  std::string name;
  for (int i = 0; i < 130; ++i) {
    name += "\u00e9";
  }
  dir.write("in.txt", "text");
  expect_success(run({"in.txt", "exfat/" + name}));
  EXPECT_EQ(dir.read("exfat/" + name), wrapped("text"));
  // It keeps no extended attributes either: a file there is replaced all
  // the same.
  dir.write("in.txt", "again");
  expect_success(run({"in.txt", "exfat/" + name}));
  EXPECT_EQ(dir.read("exfat/" + name), wrapped("again"));
  EXPECT_EQ(scratch_directory::listing_of(dir / "exfat"),
            std::vector<std::string>{name});

  // exFAT keeps no permissions: its files are anyone's, so a TMPDIR there
  // gets no saved copy, which must be its user's alone. Here an overwrite
  // in place and the giving back fail, so that the copy is kept and named.
  if (!can_inject_faults()) {
    return;
  }
  dir.write("old.txt", "previous contents");
  fs::permissions(dir / "old.txt", fs::perms{0600});
  run_options failing;
  failing.environment = {"TMPDIR=" + (dir / "exfat").string()};
  failing.faults = {"FAULT_PATH=" + (dir / "old.txt").string(),
                    "FAULT_RENAME=" + std::to_string(EXDEV), "FAULT_CLOSE=1"};
  const run_result result = run({"in.txt", "old.txt"}, failing);
  const std::string line =
      "Failed writing 'old.txt'.\nThe previous contents "
      "of 'old.txt' are kept in '";
  ASSERT_TRUE(result.err.starts_with(line) && result.err.ends_with("'.\n"))
      << result.err;
  const fs::path kept =
      result.err.substr(line.size(), result.err.size() - line.size() - 3);
  EXPECT_EQ(kept.parent_path(), "/tmp");
  EXPECT_EQ(permissions_of(kept), fs::perms{0600});
  std::ifstream saved(kept);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
            "previous contents");
  fs::remove(kept);
  EXPECT_EQ(scratch_directory::listing_of(dir / "exfat"),
            std::vector<std::string>{name});
}

TEST_F(output_replacement,
       new_file_gets_the_permissions_that_the_umask_allows) {
  if (!has_posix_files()) {
    GTEST_SKIP() << "POSIX permissions";
  }
  dir.write("in.txt", "text");
  for (const auto& [mask, expected] : {std::pair{mode_t{022}, fs::perms{0644}},
                                       {mode_t{077}, fs::perms{0600}},
                                       {mode_t{0}, fs::perms{0666}}}) {
    run_options masked;
    masked.umask = mask;
    fs::remove(dir / "out.txt");
    expect_success(run({"in.txt", "out.txt"}, masked));
    EXPECT_EQ(permissions_of(dir / "out.txt"), expected) << std::oct << mask;
  }

  // A directory's default ACL gives a new file its access, and the umask
  // none, also where the temporary has a name from its making.
  fs::create_directory(dir / "shared");
  const unsigned char defaults[] = {
      2,    0, 0, 0,                           // version
      1,    0, 7, 0, 0xff, 0xff, 0xff, 0xff,   // user::rwx
      2,    0, 6, 0, 0xfe, 0xff, 0,    0,      // user:nobody:rw-
      4,    0, 0, 0, 0xff, 0xff, 0xff, 0xff,   // group::---
      0x10, 0, 7, 0, 0xff, 0xff, 0xff, 0xff,   // mask::rwx
      0x20, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};  // other::---
  if (setxattr((dir / "shared").c_str(), "system.posix_acl_default", defaults,
               sizeof defaults, 0) != 0) {
    return;
  }
  const int made =
      open((dir / "shared/made").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(made, 0);
  close(made);
  const auto access_of = [&](const std::string& name) {
    unsigned char acl[64] = {};
    const ssize_t size = getxattr((dir / "shared" / name).c_str(),
                                  "system.posix_acl_access", acl, sizeof acl);
    return std::to_string(status_of(dir / "shared" / name).st_mode) + " " +
           std::string(reinterpret_cast<const char*>(acl),
                       size > 0 ? static_cast<std::size_t>(size) : 0);
  };
  run_options unnamed;
  unnamed.umask = 022;
  run_options named = unnamed;
  named.faults = {"FAULT_PATH=" + dir.path().string(), "FAULT_NO_TMPFILE=1"};
  expect_success(run({"in.txt", "shared/unnamed"}, unnamed));
  EXPECT_EQ(access_of("unnamed"), access_of("made"));
  if (can_inject_faults()) {
    expect_success(run({"in.txt", "shared/named"}, named));
    EXPECT_EQ(access_of("named"), access_of("made"));
  }
}

TEST_F(output_replacement, existing_file_keeps_its_permissions_and_owner) {
  if (!has_posix_files()) {
    GTEST_SKIP() << "POSIX permissions";
  }
  dir.write("in.txt", "text");
  dir.write("out.txt", "previous contents");
  fs::permissions(dir / "out.txt", fs::perms{0640});
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir / "out.txt").c_str(), NOBODY, NOBODY), 0);
  }
  expect_success(run({"in.txt", "out.txt"}));
  EXPECT_EQ(dir.read("out.txt"), wrapped("text"));
  EXPECT_EQ(permissions_of(dir / "out.txt"), fs::perms{0640});
  const struct stat status = status_of(dir / "out.txt");
  EXPECT_EQ(status.st_uid, root ? NOBODY : geteuid());
  EXPECT_EQ(status.st_gid, root ? NOBODY : getegid());

  // Where no unnamed files can be made, the temporary has a name from its
  // making: only its user may open it then, whatever the umask.
  if (can_inject_faults()) {
    const scratch_directory elsewhere;
    run_options named;
    named.umask = 0;
    named.faults = {"FAULT_PATH=" + dir.path().string(), "FAULT_NO_TMPFILE=1",
                    "FAULT_AFTER_CREATE=stat -c %a \"$FAULT_TO\" > " +
                        (elsewhere / "mode").string()};
    expect_success(run({"in.txt", "out.txt"}, named));
    EXPECT_EQ(elsewhere.read("mode"), "600\n");
  }
}

TEST_F(output_replacement, replacement_keeps_who_may_access_the_file) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to run the tool as nobody";
  }
  fs::permissions(dir.path(), fs::perms{0777});
  dir.write("in.txt", "text");
  // An access ACL granting "nobody" read and write: the group bits show
  // its mask, so losing it would let the owning group write.
  dir.write("acl.txt", "previous contents");
  fs::permissions(dir / "acl.txt", fs::perms{0640});
  const unsigned char acl[] = {
      2,    0, 0, 0,                           // version
      1,    0, 6, 0, 0xff, 0xff, 0xff, 0xff,   // user::rw-
      2,    0, 6, 0, 0xfe, 0xff, 0,    0,      // user:nobody:rw-
      4,    0, 4, 0, 0xff, 0xff, 0xff, 0xff,   // group::r--
      0x10, 0, 6, 0, 0xff, 0xff, 0xff, 0xff,   // mask::rw-
      0x20, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};  // other::---
  if (setxattr((dir / "acl.txt").c_str(), "system.posix_acl_access", acl,
               sizeof acl, 0) != 0) {
    GTEST_SKIP() << "no ACLs here: " << std::strerror(errno);
  }
  expect_success(run({"in.txt", "acl.txt"}));
  EXPECT_EQ(dir.read("acl.txt"), wrapped("text"));
  unsigned char kept[sizeof acl + 8];
  EXPECT_EQ(getxattr((dir / "acl.txt").c_str(), "system.posix_acl_access", kept,
                     sizeof kept),
            static_cast<ssize_t>(sizeof acl));
  EXPECT_EQ(std::memcmp(kept, acl, sizeof acl), 0);
  EXPECT_EQ(status_of(dir / "acl.txt").st_mode & 07777, 0660u);

  // A file of another user's that a group lets this one write: a
  // replacement could not keep its owner, so it is written in place, as a
  // redirect would.
  constexpr gid_t USERS = 100;
  dir.write("shared.txt", "previous contents");
  ASSERT_EQ(chown((dir / "shared.txt").c_str(), 0, USERS), 0);
  ASSERT_EQ(chmod((dir / "shared.txt").c_str(), 0664), 0);
  run_options member;
  member.as_nobody = true;
  member.groups = {USERS};
  expect_success(run({"in.txt", "shared.txt"}, member));
  EXPECT_EQ(dir.read("shared.txt"), wrapped("text"));
  const struct stat shared = status_of(dir / "shared.txt");
  EXPECT_EQ(shared.st_uid, 0u);
  EXPECT_EQ(shared.st_gid, USERS);
  EXPECT_EQ(shared.st_mode & 07777, 0664u);

  // Access is given once the contents are written, which clear the
  // set-user bit of a file another user writes, and every writer's file
  // capabilities.
  fs::create_directory(dir / "own");
  hand_to_nobody(dir / "own", 0755);
  dir.write("own/tool", "previous contents");
  hand_to_nobody(dir / "own/tool", 04755);
  run_options owner;
  owner.as_nobody = true;
  expect_success(run({"in.txt", "own/tool"}, owner));
  EXPECT_EQ(status_of(dir / "own/tool").st_mode & 07777, 04755u);
  dir.write("capable", "previous contents");
  ASSERT_EQ(setxattr((dir / "capable").c_str(), "security.capability",
                     CAPABILITY, sizeof CAPABILITY, 0),
            0);
  expect_success(run({"in.txt", "capable"}));
  unsigned char kept_capability[sizeof CAPABILITY + 8];
  EXPECT_EQ(getxattr((dir / "capable").c_str(), "security.capability",
                     kept_capability, sizeof kept_capability),
            static_cast<ssize_t>(sizeof CAPABILITY));
  EXPECT_EQ(std::memcmp(kept_capability, CAPABILITY, sizeof CAPABILITY), 0);
}

TEST_F(output_replacement,
       what_others_planted_in_shared_directories_is_refused) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to plant files of another user";
  }
  // What another user planted in a world-writable sticky directory, where
  // root's output would go: links to root's files, a file and a FIFO of
  // their own; refused whatever fs.protected_* are set to.
  fs::permissions(dir.path(), fs::perms{0755});
  dir.write("in.txt", "text");
  dir.write("secret.txt", "root's own");
  fs::create_directory(dir / "shared");
  ASSERT_EQ(chmod((dir / "shared").c_str(), 01777), 0);
  fs::create_symlink("../secret.txt", dir / "shared/link.txt");
  fs::create_symlink("../made.txt", dir / "shared/dangling.txt");
  fs::create_symlink("..", dir / "shared/up");
  dir.write("shared/planted.txt", "theirs");
  ASSERT_EQ(mkfifo((dir / "shared/fifo").c_str(), 0666), 0);
  for (const char* planted :
       {"link.txt", "dangling.txt", "up", "planted.txt", "fifo"}) {
    const fs::path path = dir / "shared" / planted;
    ASSERT_EQ(lchown(path.c_str(), NOBODY, NOBODY), 0);
  }
  ASSERT_EQ(chmod((dir / "shared/planted.txt").c_str(), 0666), 0);

  for (const char* output :
       {"shared/link.txt", "shared/dangling.txt", "shared/up/secret.txt",
        "shared/planted.txt", "shared/fifo"}) {
    expect_failure(run({"in.txt", output}),
                   "Failed opening '" + std::string(output) + "' to write.\n");
  }
  EXPECT_EQ(dir.read("secret.txt"), "root's own");
  EXPECT_EQ(dir.read("shared/planted.txt"), "theirs");
  EXPECT_EQ(status_of(dir / "shared/planted.txt").st_uid, NOBODY);
  EXPECT_EQ(dir.listing(),
            (std::vector<std::string>{"in.txt", "secret.txt", "shared"}));
}

TEST_F(output_replacement, sticky_and_append_only_directories_are_written) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to set file flags and run the tool as nobody";
  }
  fs::permissions(dir.path(), fs::perms{0755});
  dir.write("in.txt", "text");
  // A file that "nobody" may write, in a sticky directory that lets only
  // the file's owner rename it.
  fs::create_directory(dir / "sticky");
  ASSERT_EQ(chmod((dir / "sticky").c_str(), 01777), 0);
  dir.write("sticky/out.txt", "previous contents");
  ASSERT_EQ(chmod((dir / "sticky/out.txt").c_str(), 0666), 0);
  run_options unprivileged;
  unprivileged.as_nobody = true;
  expect_success(run({"in.txt", "sticky/out.txt"}, unprivileged));
  EXPECT_EQ(dir.read("sticky/out.txt"), wrapped("text"));
  EXPECT_EQ(status_of(dir / "sticky/out.txt").st_uid, 0u);
  EXPECT_EQ(scratch_directory::listing_of(dir / "sticky"),
            std::vector<std::string>{"out.txt"});

  // A directory that keeps every name: a file is added, none replaced.
  fs::create_directory(dir / "kept");
  dir.write("kept/old.txt", "previous contents");
  const inode_flag append_only(dir / "kept", FS_APPEND_FL);
  if (!append_only.set()) {
    GTEST_SKIP() << "no append-only directories here";
  }
  expect_success(run({"in.txt", "kept/old.txt"}));
  expect_success(run({"in.txt", "kept/new.txt"}));
  EXPECT_EQ(dir.read("kept/old.txt"), wrapped("text"));
  EXPECT_EQ(dir.read("kept/new.txt"), wrapped("text"));
  // A link to a file yet to be made there: a run whose input fails after
  // its first piece leaves no file that could never be removed.
  fs::create_symlink("kept/made.txt", dir / "link.txt");
  if (can_inject_faults()) {
    dir.write("big.txt", random_text(300000, 23));
    run_options failing;
    failing.faults = {"FAULT_PATH=" + (dir / "big.txt").string(),
                      "FAULT_READ_EIO=2"};
    expect_failure(run({"big.txt", "link.txt"}, failing),
                   "Failed reading 'big.txt'.\n");
    EXPECT_EQ(scratch_directory::listing_of(dir / "kept"),
              (std::vector<std::string>{"new.txt", "old.txt"}));
  }
  expect_success(run({"in.txt", "link.txt"}));
  EXPECT_EQ(dir.read("kept/made.txt"), wrapped("text"));
  EXPECT_EQ(scratch_directory::listing_of(dir / "kept"),
            (std::vector<std::string>{"made.txt", "new.txt", "old.txt"}));
}

TEST_F(output_replacement, symbolic_link_keeps_pointing_at_the_replaced_file) {
  if (!has_posix_files()) {
    GTEST_SKIP() << "POSIX links";
  }
  dir.write("in.txt", "text");
  fs::create_directory(dir / "real");
  dir.write("real/target.txt", "previous contents");
  fs::create_symlink("real/target.txt", dir / "link.txt");
  fs::create_symlink("real/absent.txt", dir / "dangling.txt");

  // Opening a link to a missing file makes it; a run that fails takes it
  // back.
  run_options limited;
  limited.file_size_limit = 40;
  expect_failure(run({"in.txt", "dangling.txt"}, limited),
                 "Failed writing 'dangling.txt'.\n");
  EXPECT_FALSE(fs::exists(dir / "real/absent.txt"));

  expect_success(run({"in.txt", "link.txt"}));
  expect_success(run({"in.txt", "dangling.txt"}));
  EXPECT_EQ(fs::read_symlink(dir / "link.txt"), "real/target.txt");
  EXPECT_EQ(fs::read_symlink(dir / "dangling.txt"), "real/absent.txt");
  EXPECT_EQ(dir.read("real/target.txt"), wrapped("text"));
  EXPECT_EQ(dir.read("real/absent.txt"), wrapped("text"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"dangling.txt", "in.txt",
                                                     "link.txt", "real"}));

  // A link to a file whose full path is longer than any path the system
  // takes at once is followed all the same, and the file replaced: its
  // other link keeps the old contents.
  const std::string part(250, 'd');
  std::string deep = "deep";
  for (int depth = 0; depth < 17; ++depth) {
    deep += "/" + part;
  }
  const fs::path here = fs::current_path();
  // Goes there a directory at a time, making each, as no one call could.
  const auto enter_deep = [&] {
    fs::current_path(dir.path());
    for (std::size_t at = 0; at < deep.size();) {
      const std::size_t slash = std::min(deep.find('/', at), deep.size());
      fs::create_directory(deep.substr(at, slash - at));
      fs::current_path(deep.substr(at, slash - at));
      at = slash + 1;
    }
  };
  enter_deep();
  std::ofstream("target.txt") << "previous contents";
  fs::create_hard_link("target.txt", "partner.txt");
  fs::current_path(here);
  // The link, one level down, reaches 16 further levels.
  const std::string link = "deep/" + part + "/far.txt";
  const std::string far = deep.substr(link.size() - 7) + "/target.txt";
  fs::create_symlink(far, dir / link);
  expect_success(run({"in.txt", link}));
  enter_deep();
  std::ifstream target("target.txt");
  std::ifstream partner("partner.txt");
  const std::string replaced{std::istreambuf_iterator<char>(target), {}};
  const std::string kept{std::istreambuf_iterator<char>(partner), {}};
  fs::current_path(here);
  EXPECT_EQ(replaced, wrapped("text"));
  EXPECT_EQ(kept, "previous contents");
  EXPECT_EQ(fs::read_symlink(dir / link), far);
}

TEST_F(output_replacement, devices_fifos_and_open_descriptors_are_written) {
  if (!has_posix_files()) {
    GTEST_SKIP() << "POSIX devices and FIFOs";
  }
  dir.write("in.txt", "text");
  expect_success(run({"in.txt", "/dev/null"}));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  tool_process writer = start({"in.txt", "pipe"});
  std::ifstream pipe(dir / "pipe", std::ios::binary);
  const std::string received{std::istreambuf_iterator<char>(pipe),
                             std::istreambuf_iterator<char>()};
  pipe.close();
  expect_success(writer.wait());
  EXPECT_EQ(received, wrapped("text"));
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));

  // A name of an open descriptor writes through it, after what its other
  // writers wrote, as after "exec >log": never replacing the file it is on.
  const scratch_directory elsewhere;
  std::ofstream(elsewhere / "log") << "start\n";
  run_options logged;
  logged.stdout_file = elsewhere / "log";
  logged.stdout_appends = true;
  std::string log = "start\n";
  for (const char* name :
       {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "/dev//stdout",
        "/dev/fd/../fd/1", "/proc/thread-self/fd/1"}) {
    expect_success(run({"in.txt", name}, logged));
    log += wrapped("text");
  }
  EXPECT_EQ(elsewhere.read("log"), log);
  EXPECT_EQ(elsewhere.listing(), std::vector<std::string>{"log"});
  // One the caller has not open names nothing, not a file the tool opens,
  // as an output or as an input.
  expect_failure(run({"in.txt", "/proc/self/fd/3"}),
                 "Failed opening '/proc/self/fd/3' to write.\n");
  for (const std::string input :
       {"/dev/fd/3", "/dev/fd/4", "/dev/fd/3/in.txt"}) {
    expect_failure(run({input, "in.txt"}),
                   "Failed opening '" + input + "' to read.\n");
  }
  EXPECT_EQ(dir.read("in.txt"), "text");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.txt", "pipe"}));

  // A file of the kernel's, which reports no size: written once, where it
  // stands, with nothing kept in the temporary directory meanwhile. This
  // process takes a host name and domain name of its own for it.
  if (geteuid() == 0 && unshare(CLONE_NEWUTS) == 0) {
    run_options no_spill;
    no_spill.environment = {"TMPDIR=" + (dir / "missing").string()};
    expect_success(run({"in.txt", "/proc/sys/kernel/domainname"}, no_spill));
    std::ifstream domain("/proc/sys/kernel/domainname");
    std::string line;
    std::getline(domain, line);
    EXPECT_EQ(line + "\n", wrapped("text").substr(0, line.size() + 1));
  }
}

TEST_F(output_replacement, directory_refusing_new_files_is_written_in_place) {
  if (!may_change_the_machine()) {
    GTEST_SKIP() << "needs root, to run the tool as nobody";
  }
  // Only "nobody" is bound by the permission bits set up here.
  fs::permissions(dir.path(), fs::perms{0755});
  dir.write("in.txt", "text");
  fs::create_directory(dir / "locked");
  dir.write("locked/out.txt", "previous contents");
  dir.write("locked/read-only.txt", "previous contents");
  fs::permissions(dir / "locked/out.txt", fs::perms{0666});
  fs::permissions(dir / "locked/read-only.txt", fs::perms{0644});
  fs::permissions(dir / "locked", fs::perms{0555});
  run_options unprivileged;
  unprivileged.as_nobody = true;

  expect_success(run({"in.txt", "locked/out.txt"}, unprivileged));
  EXPECT_EQ(dir.read("locked/out.txt"), wrapped("text"));
  expect_failure(run({"in.txt", "locked/new.txt"}, unprivileged),
                 "Failed opening 'locked/new.txt' to write.\n");
  expect_failure(run({"in.txt", "locked/read-only.txt"}, unprivileged),
                 "Failed opening 'locked/read-only.txt' to write.\n");
  EXPECT_EQ(dir.read("locked/read-only.txt"), "previous contents");

  // A write clears the set-user bit, which its owner has given back; the
  // set-group bit of a group the owner is not in, and capabilities, which
  // only CAP_SETFCAP sets, could not be: such a file is not written.
  dir.write("locked/tool", "previous contents");
  hand_to_nobody(dir / "locked/tool", 04755);
  expect_success(run({"in.txt", "locked/tool"}, unprivileged));
  EXPECT_EQ(status_of(dir / "locked/tool").st_mode & 07777, 04755u);
  for (const auto& [name, mode] :
       {std::pair{"locked/group-tool", 02755}, {"locked/group-file", 02664}}) {
    dir.write(name, "previous contents");
    ASSERT_EQ(chown((dir / name).c_str(), NOBODY, 0), 0);
    ASSERT_EQ(chmod((dir / name).c_str(), static_cast<mode_t>(mode)), 0);
  }
  dir.write("locked/capable", "previous contents");
  hand_to_nobody(dir / "locked/capable", 0755);
  ASSERT_EQ(setxattr((dir / "locked/capable").c_str(), "security.capability",
                     CAPABILITY, sizeof CAPABILITY, 0),
            0);
  for (const std::string name :
       {"locked/group-tool", "locked/group-file", "locked/capable"}) {
    const struct stat before = status_of(dir / name);
    expect_failure(run({"in.txt", name}, unprivileged),
                   "Failed writing '" + name + "'.\n");
    EXPECT_EQ(dir.read(name), "previous contents");
    EXPECT_EQ(status_of(dir / name).st_mode, before.st_mode);
  }
  EXPECT_EQ(getxattr((dir / "locked/capable").c_str(), "security.capability",
                     nullptr, 0),
            static_cast<ssize_t>(sizeof CAPABILITY));

  // Runs in place take turns; one that waits for its turn may still be
  // ended by a signal, and then changes nothing.
  const int held = open((dir / "locked/out.txt").c_str(), O_RDWR | O_CLOEXEC);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(held, F_OFD_SETLK, &whole), 0);
  dir.write("in.txt", "waiting");
  tool_process waiting = start({"in.txt", "locked/out.txt"}, unprivileged);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(waiting.pid(), SIGTERM);
  EXPECT_EQ(waiting.wait().signal, SIGTERM);
  close(held);
  EXPECT_EQ(dir.read("locked/out.txt"), wrapped("text"));

  // A process's record lock (lockf) is no run's: its holder, here on the
  // input and the output, may be the caller, waiting for the run.
  const int input = open((dir / "in.txt").c_str(), O_RDWR | O_CLOEXEC);
  const int output = open((dir / "locked/out.txt").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(lockf(input, F_LOCK, 0), 0);
  ASSERT_EQ(lockf(output, F_LOCK, 0), 0);
  program limited = suite.tool;
  limited.launcher.insert(limited.launcher.begin(), {"timeout", "20"});
  run_options at_dir = unprivileged;
  at_dir.directory = dir.path();
  expect_success(
      tool_process(limited, {"in.txt", "locked/out.txt"}, at_dir).wait());
  close(input);
  close(output);
  EXPECT_EQ(dir.read("locked/out.txt"), wrapped("waiting"));
  EXPECT_EQ(scratch_directory::listing_of(dir / "locked"),
            (std::vector<std::string>{"capable", "group-file", "group-tool",
                                      "out.txt", "read-only.txt", "tool"}));
}

}  // namespace
}  // namespace upgrade_info::testing
