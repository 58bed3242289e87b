#include "named_stream.h"

#include <cstdlib>
#include <cstring>

#include "exit_status.h"

namespace upgrade_info {

std::FILE* stream_try_open_by_name(const char* name, bool for_writing) {
  if (std::strcmp(name, "-") == 0) {
    return for_writing ? stdout : stdin;
  }
  return std::fopen(name, for_writing ? "wb" : "r");
}

std::FILE* stream_open_by_name(const char* name, bool for_writing) {
  std::FILE* stream = stream_try_open_by_name(name, for_writing);
  if (stream == nullptr) {
    std::fprintf(stderr, "Failed opening '%s' to %s.\n", name,
                 for_writing ? "write" : "read");
    std::exit(FAILURE_STATUS);
  }
  return stream;
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
