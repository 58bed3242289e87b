#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

#include "io/standard_streams.h"

namespace upgrade_info {

namespace {

// The one file that holds every closed standard descriptor, once made.
dev_t held_device = 0;
ino_t held_inode = 0;

// Puts at `descriptor`, the lowest closed one, the process's own file
// `made` reopened with only `access`; where there is none, /dev/null.
bool hold(int descriptor, int made, int access) {
  int reopened = made < 0
                     ? -1
                     : open(("/proc/self/fd/" + std::to_string(made)).c_str(),
                            access | O_CLOEXEC);
  if (reopened < 0) {
    reopened = open("/dev/null", access | O_CLOEXEC);
  }
  if (reopened < 0 || dup2(reopened, descriptor) != descriptor) {
    return false;
  }
  if (reopened != descriptor) {
    close(reopened);
  }
  return true;
}

}  // namespace

bool hold_closed_standard_streams() {
  int made = -1;
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) >= 0) {
      continue;
    }
    if (made < 0) {
      made = memfd_create("closed standard stream", MFD_CLOEXEC);
      struct stat status {};
      if (made >= 0 && fstat(made, &status) == 0) {
        held_device = status.st_dev;
        held_inode = status.st_ino;
      }
    }
    if (!hold(descriptor, made,
              descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY)) {
      return false;
    }
  }
  // Where memfd_create took a closed standard number itself, it is the
  // held file now.
  if (made > STDERR_FILENO) {
    close(made);
  }
  return true;
}

bool is_held_standard_stream(int descriptor) {
  struct stat status {};
  return held_inode != 0 && fstat(descriptor, &status) == 0 &&
         status.st_dev == held_device && status.st_ino == held_inode;
}

}  // namespace upgrade_info
