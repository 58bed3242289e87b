#ifndef UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_
#define UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_

// What the whole-program suites share: the tool under test, a fresh
// directory for each case, and the expected bytes of an upgrade-info file.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scratch_directory.h"
#include "tool_process.h"

namespace upgrade_info::testing {

// Set once from the command line before the tests run.
extern programs_under_test suite;

inline constexpr int FAILURE = 255;
inline constexpr const char* DEFAULT_OUTPUT = "upgrade_info_7db780a713a4.txt";

// The upgrade-info file for `content` (which holds no zero byte), with its
// checksum from zlib rather than from the code under test.
std::string wrapped(std::string_view content);

// `size` random bytes, none of them zero, a carriage return or a Ctrl-Z, so
// that every platform's text mode reads them unchanged.
std::string random_text(std::size_t size, unsigned seed);

// Such a text of `size` bytes whose upgrade-info file has the checksum
// `checksum`: the checksum's line comes in every length.
std::string text_with_checksum(std::size_t size, std::uint32_t checksum);

// `bytes` as they arrive through standard output or standard error, which
// are text streams on Windows: there each line feed becomes a carriage
// return and a line feed.
std::string as_on_standard_stream(std::string_view bytes);

bool runs_natively();
bool is_windows_build();
// Whether faults can be injected into the tool by preloading a library,
// which a launcher would take for itself and a statically linked tool
// ignores.
bool can_inject_faults();

class upgrade_info_tool : public ::testing::Test {
 protected:
  run_result run(const std::vector<std::string>& args,
                 run_options options = {}) const;
  run_result run_checker(const std::vector<std::string>& args,
                         run_options options = {}) const;
  // Starts the tool and leaves it running, for a case that acts meanwhile.
  tool_process start(const std::vector<std::string>& args,
                     run_options options = {}) const;

  static void expect_success(const run_result& result);
  static void expect_failure(const run_result& result,
                             std::string_view message);

  scratch_directory dir;
};

}  // namespace upgrade_info::testing

#endif  // UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_
