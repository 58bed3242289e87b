#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

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

}  // namespace

file_handle create_spill() {
  const std::string directory = temporary_directory();
  int file = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files there: a named one, gone from its directory before
    // any signal may end the process.
    const termination_held held;
    std::string path = directory + "/upgrade-info-XXXXXX";
    file = mkostemp(path.data(), O_CLOEXEC);
    if (file >= 0) {
      unlink(path.c_str());
    }
  }
  return file_handle(file);
}

saved_copy::saved_copy()
    : path_(temporary_directory() + "/upgrade-info-saved-XXXXXX") {
  file_ = file_handle(mkostemp(path_.data(), O_CLOEXEC));
  if (!file_) {
    path_.clear();
  }
}

saved_copy::~saved_copy() { discard(); }

bool saved_copy::discard() {
  if (!path_.empty() && unlink(path_.c_str()) != 0) {
    return false;
  }
  path_.clear();
  return true;
}

std::optional<std::string> saved_copy::keep() {
  if (path_.empty()) {
    return std::nullopt;
  }
  return std::exchange(path_, std::string());
}

}  // namespace upgrade_info
