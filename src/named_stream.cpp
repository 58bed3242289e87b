#include "named_stream.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "exit_status.h"
#include "stream_io.h"
#include "text_output.h"

#ifdef _WIN32
#include "windows_text.h"
#endif

namespace upgrade_info {

std::FILE* stream_try_open_by_name(const char* name, input_form form) {
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
  return std::fopen(name, "r");
#endif
}

std::FILE* stream_open_by_name(const char* name, input_form form) {
  std::FILE* stream = stream_try_open_by_name(name, form);
  if (stream == nullptr) {
    fail_opening(name, stream_direction::read);
  }
  return stream;
}

void fail_opening(const char* name, stream_direction direction) {
  print(stderr, "Failed opening '" + std::string(name) + "' to " +
                    (direction == stream_direction::write ? "write" : "read") +
                    ".\n");
  std::exit(FAILURE_STATUS);
}

bool stream_release(std::FILE* stream) {
  if (stream == stdin) {
    return true;
  }
  if (stream == stdout) {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  }
  return std::fclose(stream) == 0;
}

}  // namespace upgrade_info
