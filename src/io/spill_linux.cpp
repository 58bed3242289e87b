#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "io/spill.h"
#include "io/termination.h"

namespace upgrade_info {

namespace {

// As programs that make temporary files commonly take it: TMPDIR where the
// user may make files in it, else /tmp.
std::string temporary_directory() {
  const char* directory = std::getenv("TMPDIR");
  return directory == nullptr || *directory == '\0' ||
                 access(directory, W_OK | X_OK) != 0
             ? "/tmp"
             : directory;
}

// A new file named `name` and six random characters in the temporary
// directory, its path left in `path`, before anything is written to it:
// one readable by its user alone. A file system that keeps no permissions
// (FAT, exFAT) grants everyone more, so /tmp is tried instead.
file_handle create_private(const char* name, std::string& path) {
  for (const std::string& directory :
       {temporary_directory(), std::string("/tmp")}) {
    path = directory + "/" + name + "XXXXXX";
    file_handle file(mkostemp(path.data(), O_CLOEXEC));
    struct stat status {};
    if (!file) {
      break;
    }
    if (fstat(file.get(), &status) == 0 && (status.st_mode & 077) == 0 &&
        status.st_uid == geteuid()) {
      return file;
    }
    unlink(path.c_str());
  }
  path.clear();
  return {};
}

}  // namespace

file_handle create_spill() {
  const std::string directory = temporary_directory();
  file_handle file(
      open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!file && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files there: a named one, gone from its directory before
    // any signal may end the process.
    const termination_held held;
    std::string path;
    file = create_private("upgrade-info-", path);
    if (file) {
      unlink(path.c_str());
    }
  }
  return file;
}

saved_copy::saved_copy() {
  file_ = create_private("upgrade-info-saved-", path_);
}

bool saved_copy::whole() { return true; }

bool saved_copy::discard() {
  if (!path_.empty() && unlink(path_.c_str()) != 0) {
    return false;
  }
  path_.clear();
  return true;
}

}  // namespace upgrade_info
