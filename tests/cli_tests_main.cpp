// The whole-program suite's entry point: the programs under test come from
// its command line, after GoogleTest's own options.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "tool_fixture.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using upgrade_info::testing::suite;
  suite = upgrade_info::testing::programs_from(argc, argv);
  if (suite.tool.executable.empty()) {
    std::fprintf(stderr,
                 "usage: %s --tool=PATH --checker=PATH [--launcher=WORDS] "
                 "[--fault-injection=PATH] [--file-holder=PATH] "
                 "[--tool-faults=PATH] [--checker-faults=PATH] [--sanitized]\n",
                 argv[0]);
    return 2;
  }
  // A test that stops reading a tool's output must not end the suite.
  std::signal(SIGPIPE, SIG_IGN);
  return RUN_ALL_TESTS();
}
