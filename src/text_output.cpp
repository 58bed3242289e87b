#include "text_output.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <string>

#include "windows_text.h"
#endif

namespace upgrade_info {

void print(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
  const std::wstring wide = utf16_from(text);
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode) != 0) {
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()),
                  &written, nullptr);
    return;
  }
  const std::string ansi = ansi_from(wide);
  std::fwrite(ansi.data(), 1, ansi.size(), stream);
#else
  std::fwrite(text.data(), 1, text.size(), stream);
#endif
}

}  // namespace upgrade_info
