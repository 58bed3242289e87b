#include "named_stream.h"

#include <cstdlib>
#include <cstring>

#include "exit_status.h"

namespace upgrade_info {

std::FILE* stream_try_open_by_name(const char* name) {
  if (std::strcmp(name, "-") == 0) {
    return stdin;
  }
  return std::fopen(name, "r");
}

std::FILE* stream_open_by_name(const char* name) {
  std::FILE* stream = stream_try_open_by_name(name);
  if (stream == nullptr) {
    fail_opening(name, stream_direction::read);
  }
  return stream;
}

void fail_opening(const char* name, stream_direction direction) {
  std::fprintf(stderr, "Failed opening '%s' to %s.\n", name,
               direction == stream_direction::write ? "write" : "read");
  std::exit(FAILURE_STATUS);
}

bool stream_release(std::FILE* stream) {
  if (stream == stdin) {
    return true;
  }
  if (stream == stdout) {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  }
  // fclose can report success after an earlier fwrite came up short, so the
  // stream's error indicator is read before it goes away.
  const bool written = std::ferror(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

}  // namespace upgrade_info
