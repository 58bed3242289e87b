#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "replacement/spill.h"
#include "replacement/termination.h"

namespace upgrade_info {

namespace {

std::string temporary_directory() {
  const char* directory = std::getenv("TMPDIR");
  return directory == nullptr || *directory == '\0' ? "/tmp" : directory;
}

}  // namespace

file_handle create_spill() {
  const std::string directory = temporary_directory();
  int file = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files there: a named one, gone from its directory at once.
    std::string path = directory + "/.upgrade-info-XXXXXX";
    const termination_held held;
    file = mkostemp(path.data(), O_CLOEXEC);
    if (file >= 0) {
      unlink(path.c_str());
    }
  }
  return file_handle(file);
}

std::optional<std::string> keep_copy(const file_handle& contents,
                                     std::uint64_t length) {
  std::string path = temporary_directory() + "/upgrade-info-saved-XXXXXX";
  file_handle copy(mkostemp(path.data(), O_CLOEXEC));
  if (!copy) {
    return std::nullopt;
  }
  if (!copy_contents(contents, copy, length) || !copy.close()) {
    unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

}  // namespace upgrade_info
