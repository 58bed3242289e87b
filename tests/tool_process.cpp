#include "tool_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace upgrade_info::testing {

namespace {

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream stream(text);
  return {std::istream_iterator<std::string>(stream),
          std::istream_iterator<std::string>()};
}

// Standard output and error are captured in files of their own, outside the
// directory the test inspects, in a directory that goes with the suite.
class capture_directory_t {
 public:
  capture_directory_t() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "upgrade-info-capture-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a capture directory");
    }
    path_ = pattern;
  }
  capture_directory_t(const capture_directory_t&) = delete;
  capture_directory_t& operator=(const capture_directory_t&) = delete;
  ~capture_directory_t() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const std::filesystem::path& capture_directory() {
  static const capture_directory_t directory;
  return directory.path();
}

// A sanitized tool announces each allocation its allocator refuses, which
// the tool itself handles; the announcement is no message of the tool's.
std::string without_sanitizer_notes(const std::string& err) {
  const std::regex refused(
      "==[0-9]+==WARNING: AddressSanitizer failed to allocate [^\n]*\n");
  return std::regex_replace(err, refused, "");
}

std::string contents_of(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file),
          std::istreambuf_iterator<char>()};
}

// Sets the variable that `entry` ("NAME=value") names, once.
void set_variable(std::vector<std::string>& environment,
                  const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string& variable : environment) {
    if (variable.starts_with(name)) {
      variable = entry;
      return;
    }
  }
  environment.push_back(entry);
}

// Writes `bytes` into the pipe; false once the tool stopped reading, when
// its result tells the rest.
bool send_to_pipe(int pipe, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(pipe, bytes.data(), bytes.size());
    if (n <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Runs in the child between fork and exec, so it calls only what is safe
// there and ends with _exit on any failure.
[[noreturn]] void become_tool(const run_options& options, const char* file,
                              const std::vector<char*>& argv,
                              const std::vector<char*>& envp, int stdin_fd,
                              const char* out_path, const char* err_path) {
  const int out = open(out_path,
                       O_WRONLY | O_CREAT | O_CLOEXEC |
                           (options.stdout_appends ? O_APPEND : O_TRUNC),
                       0644);
  const int err =
      open(err_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (chdir(options.directory.c_str()) != 0 || stdin_fd < 0 || out < 0 ||
      err < 0 || dup2(stdin_fd, 0) < 0 || dup2(out, 1) < 0 ||
      dup2(options.stderr_to_stdout ? out : err, 2) < 0 ||
      (options.stdout_closed && close(1) != 0) ||
      (options.stdin_closed && close(0) != 0)) {
    _exit(125);
  }
  // Nothing but the standard streams, whatever started the tests left open.
  close_range(3, ~0U, 0);
  // Whatever started the tests may ignore some of these, and an ignored
  // signal stays ignored across exec.
  for (int signal = 1; signal < NSIG; ++signal) {
    std::signal(signal, SIG_DFL);
  }
  // Signals that dump core must not leave a core file among the outputs.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  if (options.file_size_limit) {
    const rlimit limit{*options.file_size_limit, *options.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (options.address_space_limit) {
    const rlimit limit{*options.address_space_limit,
                       *options.address_space_limit};
    setrlimit(RLIMIT_AS, &limit);
  }
  if (options.umask) {
    umask(*options.umask);
  }
  if (options.as_nobody &&
      (setgroups(options.groups.size(), options.groups.data()) != 0 ||
       setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) {
    _exit(125);
  }
  execvpe(file, argv.data(), envp.data());
  _exit(127);
}

}  // namespace

programs_under_test programs_from(int argc, char** argv) {
  std::string tool;
  std::string checker;
  std::string launcher;
  std::string tool_with_faults;
  std::string checker_with_faults;
  programs_under_test programs;
  const std::pair<const char*, std::string*> from_environment[] = {
      {"UPGRADE_INFO_TOOL", &tool},
      {"UPGRADE_INFO_CHECKER", &checker},
      {"UPGRADE_INFO_LAUNCHER", &launcher}};
  for (const auto& [variable, value] : from_environment) {
    if (const char* set = std::getenv(variable)) {
      *value = set;
    }
  }
  const std::pair<std::string_view, std::string*> options[] = {
      {"--tool=", &tool},
      {"--checker=", &checker},
      {"--launcher=", &launcher},
      {"--fault-injection=", &programs.fault_injection},
      {"--file-holder=", &programs.file_holder},
      {"--tool-faults=", &tool_with_faults},
      {"--checker-faults=", &checker_with_faults}};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    programs.sanitized = programs.sanitized || arg == "--sanitized";
    for (const auto& [prefix, value] : options) {
      if (arg.starts_with(prefix)) {
        *value = arg.substr(prefix.size());
      }
    }
  }
  for (std::string* path :
       {&tool, &checker, &programs.fault_injection, &programs.file_holder,
        &tool_with_faults, &checker_with_faults}) {
    if (!path->empty()) {
      *path = std::filesystem::absolute(*path).string();
    }
  }
  programs.tool = {words_of(launcher), tool};
  programs.checker = {words_of(launcher), checker};
  programs.tool_with_faults = {words_of(launcher), tool_with_faults};
  programs.checker_with_faults = {words_of(launcher), checker_with_faults};
  return programs;
}

tool_process::tool_process(const program& program,
                           const std::vector<std::string>& args,
                           const run_options& options) {
  static std::atomic<int> runs{0};
  const std::string run = std::to_string(runs++);
  out_path_ = capture_directory() / ("out" + run);
  err_path_ = capture_directory() / ("err" + run);
  const std::filesystem::path stdout_path =
      options.stdout_file.value_or(out_path_);

  std::vector<std::string> words = program.launcher;
  const bool named = program.launcher.empty() && options.program_name;
  words.push_back(named ? *options.program_name : program.executable);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  std::vector<std::string> variables = options.environment;
  if (!options.faults.empty()) {
    variables.push_back("LD_PRELOAD=" + options.fault_injection);
    // The sanitizers' runtime would otherwise insist on being loaded first.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    variables.push_back(
        "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") +
        ":verify_asan_link_order=0");
    variables.insert(variables.end(), options.faults.begin(),
                     options.faults.end());
  }
  for (const std::string& variable : variables) {
    set_variable(environment, variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : environment) {
    envp.push_back(variable.data());
  }
  envp.push_back(nullptr);

  // With a program name of its own, argv[0] no longer names the file.
  const std::string file = named ? program.executable : words.front();

  int pipe_fds[2] = {-1, -1};
  const bool piped = options.stdin_bytes || options.stdin_through_pipe;
  // Close-on-exec, so that the tool holds no write end and sees the end of
  // its input when the test closes its own.
  if (piped && pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make a pipe");
  }
  const int stdin_fd =
      piped ? pipe_fds[0]
            : open(options.stdin_file.value_or("/dev/null").c_str(),
                   O_RDONLY | O_CLOEXEC);
  if (options.stdin_offset > 0) {
    lseek(stdin_fd, static_cast<off_t>(options.stdin_offset), SEEK_SET);
  }
  pid_ = fork();
  if (pid_ == 0) {
    become_tool(options, file.c_str(), argv, envp, stdin_fd,
                stdout_path.c_str(), err_path_.c_str());
  }
  if (stdin_fd >= 0) {
    close(stdin_fd);
  }
  if (pid_ < 0) {
    throw std::runtime_error("cannot fork");
  }
  if (piped) {
    std::ifstream source;
    if (!options.stdin_bytes) {
      source.open(*options.stdin_file, std::ios::binary);
    }
    std::string bytes = options.stdin_bytes.value_or("");
    do {
      if (source.is_open()) {
        bytes.resize(1 << 20);
        source.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(source.gcount()));
      }
    } while (send_to_pipe(pipe_fds[1], bytes) && source.is_open() &&
             !bytes.empty());
    close(pipe_fds[1]);
  }
}

tool_process::tool_process(tool_process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_path_(std::move(other.out_path_)),
      err_path_(std::move(other.err_path_)) {}

tool_process::~tool_process() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

run_result tool_process::wait() {
  run_result result;
  // Waited for a second at a time, to see a process whose main thread is
  // a zombie, which waits on another thread that may never end.
  const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  pollfd watched{ended, POLLIN, 0};
  for (int lingering = 0; ended >= 0 && poll(&watched, 1, 1000) == 0;) {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string pid_and_name;
    char state = 0;
    std::getline(stat, pid_and_name, ')') >> state;
    lingering = state == 'Z' ? lingering + 1 : 0;
    if (lingering == 5) {
      kill(pid_, SIGKILL);
      result.lingered = true;
    }
  }
  if (ended >= 0) {
    close(ended);
  }
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (WIFEXITED(raw)) {
    result.status = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    result.signal = WTERMSIG(raw);
  }
  result.out = contents_of(out_path_);
  result.err = without_sanitizer_notes(contents_of(err_path_));
  std::filesystem::remove(out_path_);
  std::filesystem::remove(err_path_);
  return result;
}

}  // namespace upgrade_info::testing
