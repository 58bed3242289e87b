#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

#include "io/standard_streams.h"
#include "startup/exit_status.h"

namespace upgrade_info {

namespace {

// The file that holds them, where one does.
dev_t held_device = 0;
ino_t held_inode = 0;

// A file of the process's own at `descriptor`, the lowest closed one, open
// only with `access`; where none can be made, /dev/null.
void hold(int descriptor, int access) {
  const int made = memfd_create("closed standard stream", 0);
  int reopened = made < 0
                     ? -1
                     : open(("/proc/self/fd/" + std::to_string(made)).c_str(),
                            access | O_CLOEXEC);
  const bool own = reopened >= 0;
  if (!own) {
    reopened = open("/dev/null", access | O_CLOEXEC);
  }
  struct stat status {};
  if (reopened < 0 || dup2(reopened, descriptor) != descriptor ||
      fstat(descriptor, &status) != 0) {
    _exit(FAILURE_STATUS);
  }
  if (own) {
    held_device = status.st_dev;
    held_inode = status.st_ino;
  }
  for (const int extra : {reopened, made}) {
    if (extra >= 0 && extra != descriptor) {
      close(extra);
    }
  }
}

}  // namespace

void hold_closed_standard_streams() {
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) < 0) {
      hold(descriptor, descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
  }
}

bool is_held_standard_stream(int descriptor) {
  struct stat status {};
  return held_inode != 0 && fstat(descriptor, &status) == 0 &&
         status.st_dev == held_device && status.st_ino == held_inode;
}

}  // namespace upgrade_info
