// What the platform's start-up does before the program runs, for both
// executables: the settings that hold for the whole process, made once,
// here. On Windows it takes the wide command line, so that a name outside the
// ANSI code page reaches the program as typed rather than as a best-fit
// neighbour, and the runtime expands wildcard patterns in it into the names of
// matching files, as the tool's users there expect, since their shell does not;
// a pattern that matches nothing is passed on as it is. mingw-w64's runtime
// expands them when the program defines _dowildcard.

#include "exit_status.h"
#include "program.h"

#ifdef _WIN32

#include <string>
#include <vector>

#include "windows_text.h"

extern "C" {
extern int _dowildcard;
int _dowildcard = -1;

int wmain(int argc, wchar_t* argv[]) {
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

#else

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace {

// A standard descriptor closed at start is held by /dev/null opened the
// other way round (to write for standard input, to read for the others),
// so that reading or writing it still fails, as on a closed one, and no
// file the program opens takes its number: a spill file given
// descriptor 1 would take what is meant for standard output.
void hold_closed_standard_descriptors() {
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) < 0) {
      const int held =
          open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
      if (held != descriptor) {
        _exit(upgrade_info::FAILURE_STATUS);
      }
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  hold_closed_standard_descriptors();
  // Exceeding the file-size limit is a failed write, which is reported and
  // cleaned up, rather than a signal that ends the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return upgrade_info::run_program(argc, argv);
}

#endif
