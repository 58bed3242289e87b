#include <io.h>
#include <windows.h>

#include <string>

#include "io/text_output.h"
#include "io/windows_text.h"

namespace upgrade_info {

void print(std::FILE* stream, std::string_view text) {
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
}

}  // namespace upgrade_info
