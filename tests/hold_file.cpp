// hold_file <path> <ready-marker> <milliseconds>
//
// A Windows helper for the whole-program suite: holds <path> open without
// sharing it, as a virus scanner or an editor may, creates <ready-marker>
// once it does, and lets go after <milliseconds>.

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    return 2;
  }
  const HANDLE held =
      CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    return 1;
  }
  CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  CloseHandle(held);
  return 0;
}
