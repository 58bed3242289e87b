// Loaded into the tool under test with LD_PRELOAD, to make chosen operations
// on chosen files fail the way a full disk, a broken mount or a signal would.
//
//   FAULT_PATH=<text>     the files concerned: those whose path contains <text>
//   FAULT_CLOSE=1         closing a file open for writing (fclose or close)
//                         closes it, then fails with EIO
//   FAULT_RENAME=<errno>  renaming onto a file concerned fails with that error
//   FAULT_LINK=<errno>    linking a file as one concerned fails so
//   FAULT_BEFORE_RENAME=<command>, FAULT_BEFORE_LINK=<command>
//                         the first such call runs `sh -c <command>` first,
//                         with FAULT_FROM and FAULT_TO naming its two files,
//                         as another program might act meanwhile
//   FAULT_BEFORE_WRITE=<command>  so before the first write to a file
//                         concerned
//   FAULT_AFTER_CREATE=<command>  so after the first file concerned is
//                         made (openat with O_CREAT and O_EXCL), FAULT_TO
//                         naming it
//   FAULT_READ_EIO=<n>    the <n>th read of a file concerned (fread or pread,
//                         counting from 1) fails with EIO
//   FAULT_NO_TMPFILE=1    no file system takes unnamed files (O_TMPFILE)
//   FAULT_WRITE_HANG=<m>  writing to a file concerned creates the file <m>,
//                         then waits for a signal
//   FAULT_WRITE_DELAY=<ms>  each write to a file concerned waits <ms> first,
//                         as on a slow disk
//   FAULT_INPUT_RESIZE=<n>  the first seek to a position in a file concerned
//                         that is open only to read cuts or extends it to
//                         <n> bytes, as another program might meanwhile
//   FAULT_PROBE=<path>    creates <path> when loaded, to show that it was

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename Function>
Function* next_definition(const char* name) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

std::string path_of_descriptor(int fd) {
  char path[4096];
  const ssize_t length = readlink(
      ("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "";
}

// Whether `path`, taken from the directory open as `directory`, is a file
// concerned.
bool concerns(int directory, const char* path) {
  const char* pattern = std::getenv("FAULT_PATH");
  if (pattern == nullptr || path == nullptr) {
    return false;
  }
  std::string absolute = path;
  if (path[0] != '/') {
    char cwd[4096] = "";
    absolute = (directory == AT_FDCWD ? std::string(getcwd(cwd, sizeof cwd))
                                      : path_of_descriptor(directory)) +
               "/" + absolute;
  }
  return absolute.find(pattern) != std::string::npos;
}

bool concerns(int fd) {
  return concerns(AT_FDCWD, path_of_descriptor(fd).c_str());
}

bool enabled(const char* variable) { return std::getenv(variable) != nullptr; }

// Fails with the error that `variable` names, when it is set and `path` is
// a file concerned.
bool injected(const char* variable, int directory, const char* path) {
  const char* error = std::getenv(variable);
  if (error == nullptr || !concerns(directory, path)) {
    return false;
  }
  errno = std::atoi(error);
  return true;
}

[[gnu::constructor]] void announce_loading() {
  if (const char* path = std::getenv("FAULT_PROBE")) {
    close(next_definition<int(const char*, int, ...)>("open")(
        path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  }
}

// The mode argument that open and openat take only when they create.
mode_t mode_argument(int flags, std::va_list arguments) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? static_cast<mode_t>(va_arg(arguments, int))
             : 0;
}

bool refuse_unnamed(int flags) {
  if (enabled("FAULT_NO_TMPFILE") && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return true;
  }
  return false;
}

int open_file(const char* name, const char* path, int flags,
              std::va_list arguments) {
  const mode_t mode = mode_argument(flags, arguments);
  if (refuse_unnamed(flags)) {
    return -1;
  }
  return next_definition<int(const char*, int, ...)>(name)(path, flags, mode);
}

int open_file_at(const char* name, int directory, const char* path, int flags,
                 std::va_list arguments) {
  const mode_t mode = mode_argument(flags, arguments);
  if (refuse_unnamed(flags)) {
    return -1;
  }
  return next_definition<int(int, const char*, int, ...)>(name)(directory, path,
                                                                flags, mode);
}

}  // namespace

namespace {

std::string path_at(int directory, const char* path) {
  return path[0] == '/' || directory == AT_FDCWD
             ? path
             : path_of_descriptor(directory) + "/" + path;
}

// Runs the command that `variable` holds, once, before a call from `from`
// to `to`, a file concerned.
void act_before(const char* variable, int from_directory, const char* from,
                int to_directory, const char* to) {
  const char* command = std::getenv(variable);
  if (command == nullptr || !concerns(to_directory, to)) {
    return;
  }
  // The command runs as another program would, with no fault injected.
  const std::string run = "unset LD_PRELOAD; " + std::string(command);
  unsetenv(variable);
  setenv("FAULT_FROM", path_at(from_directory, from).c_str(), 1);
  setenv("FAULT_TO", path_at(to_directory, to).c_str(), 1);
  if (std::system(run.c_str()) != 0) {
    std::abort();
  }
}

}  // namespace

namespace {

void hang_if_asked(int fd) {
  const std::string path = path_of_descriptor(fd);
  act_before("FAULT_BEFORE_WRITE", AT_FDCWD, path.c_str(), AT_FDCWD,
             path.c_str());
  const char* delay = std::getenv("FAULT_WRITE_DELAY");
  if (delay != nullptr && concerns(fd)) {
    usleep(static_cast<useconds_t>(std::atoi(delay)) * 1000);
  }
  const char* marker = std::getenv("FAULT_WRITE_HANG");
  if (marker != nullptr && concerns(fd)) {
    close(next_definition<int(const char*, int, ...)>("open")(
        marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    for (;;) {
      pause();
    }
  }
}

}  // namespace

// With 64-bit file offsets, as the tool and this library are built, open
// and openat below are open64 and openat64, which the tool's calls reach.
extern "C" int open(const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const int result = open_file("open64", path, flags, arguments);
  va_end(arguments);
  return result;
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const int result =
      open_file_at("openat64", directory, path, flags, arguments);
  va_end(arguments);
  if (result >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
    act_before("FAULT_AFTER_CREATE", directory, path, directory, path);
  }
  return result;
}

// As the tool is built, with 64-bit file offsets, this is fseeko64.
extern "C" int fseeko(std::FILE* stream, off_t offset, int whence) {
  static bool resized = false;
  const char* size = std::getenv("FAULT_INPUT_RESIZE");
  const int fd = fileno(stream);
  if (size != nullptr && !resized && whence == SEEK_SET &&
      (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY && concerns(fd)) {
    resized = truncate(path_of_descriptor(fd).c_str(), std::atoll(size)) == 0;
  }
  return next_definition<int(std::FILE*, off_t, int)>("fseeko64")(
      stream, offset, whence);
}

namespace {

bool close_fails(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return enabled("FAULT_CLOSE") && flags >= 0 &&
         (flags & O_ACCMODE) != O_RDONLY && concerns(fd);
}

}  // namespace

extern "C" int fclose(std::FILE* stream) {
  const bool fail = close_fails(fileno(stream));
  const int result = next_definition<int(std::FILE*)>("fclose")(stream);
  if (fail) {
    errno = EIO;
    return EOF;
  }
  return result;
}

extern "C" int close(int fd) {
  const bool fail = close_fails(fd);
  const int result = next_definition<int(int)>("close")(fd);
  if (fail) {
    errno = EIO;
    return -1;
  }
  return result;
}

extern "C" int renameat2(int from_directory, const char* from, int to_directory,
                         const char* to, unsigned flags) {
  act_before("FAULT_BEFORE_RENAME", from_directory, from, to_directory, to);
  if (injected("FAULT_RENAME", to_directory, to)) {
    return -1;
  }
  return next_definition<int(int, const char*, int, const char*, unsigned)>(
      "renameat2")(from_directory, from, to_directory, to, flags);
}

extern "C" int linkat(int from_directory, const char* from, int to_directory,
                      const char* to, int flags) {
  act_before("FAULT_BEFORE_LINK", from_directory, from, to_directory, to);
  if (injected("FAULT_LINK", to_directory, to)) {
    return -1;
  }
  return next_definition<int(int, const char*, int, const char*, int)>(
      "linkat")(from_directory, from, to_directory, to, flags);
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

namespace {

bool read_fails(int fd) {
  static int reads = 0;
  const char* failing = std::getenv("FAULT_READ_EIO");
  if (failing == nullptr || !concerns(fd) || ++reads != std::atoi(failing)) {
    return false;
  }
  errno = EIO;
  return true;
}

}  // namespace

extern "C" std::size_t fread(void* data, std::size_t size, std::size_t count,
                             std::FILE* stream) {
  if (read_fails(fileno(stream))) {
    stream->_flags |= _IO_ERR_SEEN;  // as glibc marks a failed read
    return 0;
  }
  return next_definition<std::size_t(void*, std::size_t, std::size_t,
                                     std::FILE*)>("fread")(data, size, count,
                                                           stream);
}

// As the tool is built, with 64-bit file offsets, this is pread64.
extern "C" ssize_t pread(int fd, void* data, std::size_t size, off_t at) {
  if (read_fails(fd)) {
    return -1;
  }
  return next_definition<ssize_t(int, void*, std::size_t, off_t)>("pread64")(
      fd, data, size, at);
}

// As the tool is built, with 64-bit file offsets, this is pwrite64.
extern "C" ssize_t pwrite(int fd, const void* data, std::size_t size,
                          off_t at) {
  hang_if_asked(fd);
  return next_definition<ssize_t(int, const void*, std::size_t, off_t)>(
      "pwrite64")(fd, data, size, at);
}
