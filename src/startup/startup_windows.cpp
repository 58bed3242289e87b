// What the start-up does before either program runs on Windows. It takes
// the wide command line, so that a name outside the ANSI code page reaches
// the program as typed rather than as a best-fit neighbour, and the
// runtime expands wildcard patterns in it into the names of matching
// files, as the tool's users there expect, since their shell does not; a
// pattern that matches nothing is passed on as it is. mingw-w64's runtime
// expands them when the program defines _dowildcard. Standard error goes
// out as it is printed, as on Linux: the runtime would hold it back where
// it is redirected, and a message would then come after standard output
// printed later, where both go to one file.

#include <cstring>
#include <string>
#include <vector>

#include "io/stream_io.h"
#include "io/termination.h"
#include "io/windows_text.h"
#include "startup/program.h"

bool upgrade_info::asks_for_help(const char* argument) {
  return std::strcmp(argument, "/?") == 0;
}

extern "C" {
extern int _dowildcard;
int _dowildcard = -1;

int wmain(int argc, wchar_t* argv[]) {
  upgrade_info::unbuffered(stderr);
  upgrade_info::take_terminating_signals();
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.push_back(upgrade_info::wtf8_from(argv[i]));
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  return upgrade_info::run_program(argc, pointers.data());
}
}
