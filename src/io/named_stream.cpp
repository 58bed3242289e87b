#include "io/named_stream.h"

#include <cstring>

#include "io/stream_io.h"

namespace upgrade_info {

std::FILE* stream_open_by_name(const char* name, input_form form) {
  const bool text = form == input_form::text;
  if (std::strcmp(name, "-") != 0) {
    return open_to_read(name, text);
  }
  if (!text) {
    set_binary(stdin);
  }
  return stdin;
}

bool stream_release(std::FILE* stream) {
  if (stream == stdin) {
    return true;
  }
  // Windows' runtime does not say when the last flush of a device, done by
  // fclose, fails: it is done first.
  const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

}  // namespace upgrade_info
