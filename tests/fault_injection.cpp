// Loaded into the tool under test with LD_PRELOAD, to make chosen operations
// on chosen files fail the way a full disk, a broken mount or a signal would.
//
//   FAULT_PATH=<text>    the files concerned: those whose path contains <text>
//   FAULT_CLOSE=1        fclose of a stream open for writing closes the file,
//                        then fails with EIO
//   FAULT_RENAME=<errno> rename onto a file concerned fails with that error
//                        and renames nothing
//   FAULT_WRITE_HANG=1   writing to a file concerned waits for a signal
//   FAULT_PROBE=<path>   creates <path> when loaded, to show that it was

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Function>
Function* next_definition(const char* name) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

bool concerns(const char* path) {
  const char* pattern = std::getenv("FAULT_PATH");
  if (pattern == nullptr || path == nullptr) {
    return false;
  }
  char absolute[8192] = "";
  if (path[0] != '/' && getcwd(absolute, sizeof absolute / 2) != nullptr) {
    std::strcat(absolute, "/");
  }
  std::strncat(absolute, path, sizeof absolute / 2 - 1);
  return std::strstr(absolute, pattern) != nullptr;
}

bool concerns(int fd) {
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) {
    return false;
  }
  path[length] = '\0';
  return concerns(path);
}

bool enabled(const char* variable) { return std::getenv(variable) != nullptr; }

void hang_if_asked(int fd) {
  if (enabled("FAULT_WRITE_HANG") && concerns(fd)) {
    for (;;) {
      pause();
    }
  }
}

[[gnu::constructor]] void announce_loading() {
  if (const char* path = std::getenv("FAULT_PROBE")) {
    close(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  }
}

}  // namespace

extern "C" int fclose(std::FILE* stream) {
  const int fd = fileno(stream);
  const bool writing = (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY;
  const bool fail = enabled("FAULT_CLOSE") && writing && concerns(fd);
  const int result = next_definition<int(std::FILE*)>("fclose")(stream);
  if (fail) {
    errno = EIO;
    return EOF;
  }
  return result;
}

extern "C" int rename(const char* from, const char* to) {
  if (const char* error = std::getenv("FAULT_RENAME"); error && concerns(to)) {
    errno = std::atoi(error);
    return -1;
  }
  return next_definition<int(const char*, const char*)>("rename")(from, to);
}

extern "C" std::size_t fwrite(const void* data, std::size_t size,
                              std::size_t count, std::FILE* stream) {
  hang_if_asked(fileno(stream));
  return next_definition<std::size_t(const void*, std::size_t, std::size_t,
                                     std::FILE*)>("fwrite")(data, size, count,
                                                            stream);
}

extern "C" ssize_t write(int fd, const void* data, std::size_t size) {
  hang_if_asked(fd);
  return next_definition<ssize_t(int, const void*, std::size_t)>("write")(
      fd, data, size);
}
