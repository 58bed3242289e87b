#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <vector>

#include "file_replacement.h"

namespace upgrade_info::file_replacement {

namespace {

constexpr int TERMINATION_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The one temporary file that exists, for the signal handler to remove.
std::string temporary_path;
std::atomic<const char*> pending_temporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void remove_temporary_then_end(int signal) {
  if (const char* path = pending_temporary.load()) {
    unlink(path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void install_termination_handlers() {
  static const bool installed = [] {
    for (int signal : TERMINATION_SIGNALS) {
      struct sigaction current {};
      // A signal the caller chose to ignore (nohup) stays ignored.
      if (sigaction(signal, nullptr, &current) == 0 &&
          current.sa_handler != SIG_IGN) {
        struct sigaction action {};
        action.sa_handler = remove_temporary_then_end;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
      }
    }
    return true;
  }();
  (void)installed;
}

// Holds the termination signals back while the temporary file and the
// handler's record of it change together.
class signals_held {
 public:
  signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : TERMINATION_SIGNALS) {
      sigaddset(&held, signal);
    }
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t previous_;
};

std::string directory_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void keep_attributes(int fd, const std::string& existing) {
  struct stat status {};
  if (stat(existing.c_str(), &status) != 0) {
    return;
  }
  mode_t mode = status.st_mode & 07777;
  // Set-user and set-group bits must not survive on a file that could not
  // be given the old owner.
  if (fchown(fd, status.st_uid, status.st_gid) != 0) {
    mode &= ~(S_ISUID | S_ISGID);
  }
  fchmod(fd, mode);
}

}  // namespace

void treat_file_size_limit_as_write_error() { std::signal(SIGXFSZ, SIG_IGN); }

std::string final_target(const std::string& path) {
  std::string target = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status {};
    if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      return target;
    }
    std::vector<char> link(4096);
    const ssize_t length = readlink(target.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) == link.size()) {
      return path;
    }
    const std::string next(link.data(), static_cast<std::size_t>(length));
    target = next.front() == '/' ? next : directory_part(target) + next;
  }
  return path;  // a loop of links: opening the path will say so
}

destination inspect(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return errno == ENOENT ? destination::missing : destination::other;
  }
  // A file this process may not write stays refused, as opening it would be.
  return S_ISREG(status.st_mode) && access(path.c_str(), W_OK) == 0
             ? destination::writable_file
             : destination::other;
}

std::FILE* create_temporary(const std::string& path,
                            const std::string& existing) {
  install_termination_handlers();
  int fd = -1;
  {
    const signals_held held;
    // 0666 less the umask, as "wb" would create it.
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      return nullptr;
    }
    temporary_path = path;
    pending_temporary = temporary_path.c_str();
  }
  if (!existing.empty()) {
    keep_attributes(fd, existing);
  }
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    remove_temporary(path);
    errno = error;
  }
  return stream;
}

replacement replace_with_temporary(const std::string& temporary,
                                   const std::string& destination) {
  const signals_held held;
  if (std::rename(temporary.c_str(), destination.c_str()) == 0) {
    pending_temporary = nullptr;
    return replacement::done;
  }
  // A destination that is a mount point of its own, or on another device.
  return errno == EXDEV || errno == EBUSY ? replacement::cannot_rename
                                          : replacement::failed;
}

void remove_temporary(const std::string& temporary) {
  const signals_held held;
  unlink(temporary.c_str());
  pending_temporary = nullptr;
}

}  // namespace upgrade_info::file_replacement
