// What the start-up does before either program runs on Linux: the
// settings that hold for the whole process, made once, here.

#include <csignal>

#include "io/standard_streams.h"
#include "startup/exit_status.h"
#include "startup/program.h"

bool upgrade_info::asks_for_help(const char*) { return false; }

int main(int argc, char* argv[]) {
  if (!upgrade_info::hold_closed_standard_streams()) {
    return upgrade_info::FAILURE_STATUS;
  }
  // Exceeding the file-size limit is a failed write, which is reported and
  // cleaned up, rather than a signal that ends the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return upgrade_info::run_program(argc, argv);
}
