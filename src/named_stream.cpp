#include "named_stream.h"

#include <cerrno>
#include <cstring>

#include "standard_streams.h"
#include "stream_io.h"

#ifdef _WIN32
#include "windows_text.h"
#endif

namespace upgrade_info {

std::FILE* stream_open_by_name(const char* name, input_form form) {
  const bool text = form == input_form::text;
  if (std::strcmp(name, "-") == 0) {
    if (!text) {
      set_binary(stdin);
    }
    return stdin;
  }
#ifdef _WIN32
  return _wfopen(native_path(name).c_str(), text ? L"r" : L"rb");
#else
  std::FILE* stream = std::fopen(name, "r");
  // A name of standard input closed at start (/dev/stdin) names no file.
  if (stream != nullptr && is_held_standard_stream(fileno(stream))) {
    std::fclose(stream);
    errno = EBADF;
    return nullptr;
  }
  return stream;
#endif
}

bool stream_release(std::FILE* stream) {
  if (stream == stdin) {
    return true;
  }
  if (stream == stdout) {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  }
  // Windows' runtime does not say when the last flush of a device, done by
  // fclose, fails: it is done first.
  const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

}  // namespace upgrade_info
