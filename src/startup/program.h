#ifndef UPGRADE_INFO_STARTUP_PROGRAM_H_
#define UPGRADE_INFO_STARTUP_PROGRAM_H_

namespace upgrade_info {

// Each executable's own entry point, called by the platform's start-up with
// the command line's arguments in the form every name takes inside the
// program: as given on Linux, turned from UTF-16 into WTF-8 on Windows
// (see windows_text.h).
int run_program(int argc, char* argv[]);

// Whether `argument` is the platform's own way to ask a program for help,
// which names no file there: "/?" on Windows; none on Linux.
bool asks_for_help(const char* argument);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_STARTUP_PROGRAM_H_
