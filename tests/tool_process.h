#ifndef UPGRADE_INFO_TESTS_TOOL_PROCESS_H_
#define UPGRADE_INFO_TESTS_TOOL_PROCESS_H_

// Runs an executable under test as its users do: in a working directory of
// the test's choosing, with real standard streams and an exit status.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace upgrade_info::testing {

// A program to run: an executable, and the words put before it when it
// runs under a launcher (an emulator such as "wine" or "qemu-aarch64 -cpu
// max").
struct program {
  std::vector<std::string> launcher;
  std::string executable;
};

// What the whole-program suite runs: the tool and the checker, under one
// launcher, and the helpers built for the same platform, where there are
// any.
struct programs_under_test {
  program tool;
  program checker;
  std::string fault_injection;  // the library run_options::faults preloads
  std::string file_holder;      // hold_file, on Windows
  // On Windows, the tool and the checker built with the fault injector
  // (windows_faults.cpp), under the same launcher.
  program tool_with_faults;
  program checker_with_faults;
  // Built with AddressSanitizer, whose runtime reserves terabytes of
  // address space and makes system calls of its own.
  bool sanitized = false;
};

// From "--tool=PATH", "--checker=PATH", "--launcher=WORDS",
// "--fault-injection=PATH", "--file-holder=PATH", "--tool-faults=PATH" and
// "--checker-faults=PATH" and "--sanitized" in `argv`, else from the
// environment variables UPGRADE_INFO_TOOL, UPGRADE_INFO_CHECKER and
// UPGRADE_INFO_LAUNCHER.
programs_under_test programs_from(int argc, char** argv);

struct run_options {
  std::filesystem::path directory;
  std::optional<std::string> stdin_bytes;  // through a pipe
  std::optional<std::filesystem::path> stdin_file;
  std::uint64_t stdin_offset = 0;   // where stdin_file is read from
  bool stdin_through_pipe = false;  // stdin_file's bytes, through a pipe
  // Where standard output goes; captured into run_result::out when absent.
  std::optional<std::filesystem::path> stdout_file;
  bool stdout_appends = false;    // to stdout_file, without truncating it
  bool stdout_closed = false;     // no standard output at all
  bool stdin_closed = false;      // no standard input at all
  bool stderr_to_stdout = false;  // both into run_result::out
  // The first element of the argument vector, when not the executable's path.
  std::optional<std::string> program_name;
  std::optional<std::uint64_t> file_size_limit;
  std::optional<std::uint64_t> address_space_limit;
  std::optional<mode_t> umask;
  // Runs as the unprivileged user "nobody" (the test must run as root),
  // with these supplementary groups.
  bool as_nobody = false;
  std::vector<gid_t> groups;
  // Variables set for the program ("TMPDIR=...").
  std::vector<std::string> environment;
  // Variables of the fault-injection library ("FAULT_RENAME=18", ...); when
  // present, that library is preloaded into the program.
  std::vector<std::string> faults;
  std::string fault_injection;
};

inline constexpr uid_t NOBODY = 65534;

struct run_result {
  int status = -1;  // the exit status, -1 when ended by a signal
  int signal = 0;   // the signal that ended it, or 0
  std::string out;  // standard output, when captured
  std::string err;  // standard error
  // Killed after its main thread had ended and another lingered for
  // seconds, which wine's processes now and then do at their exit.
  bool lingered = false;
};

// A started process; wait() collects it.
class tool_process {
 public:
  tool_process(const program& program, const std::vector<std::string>& args,
               const run_options& options);
  tool_process(tool_process&& other) noexcept;
  tool_process& operator=(tool_process&&) = delete;
  ~tool_process();

  pid_t pid() const { return pid_; }
  run_result wait();

 private:
  pid_t pid_ = -1;
  std::filesystem::path out_path_;
  std::filesystem::path err_path_;
};

}  // namespace upgrade_info::testing

#endif  // UPGRADE_INFO_TESTS_TOOL_PROCESS_H_
