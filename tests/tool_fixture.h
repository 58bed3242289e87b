#ifndef UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_
#define UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_

// What the whole-program suites share: the tool under test, a fresh
// directory for each case, and the expected bytes of an upgrade-info file.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
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

// `path` as the Windows programs under wine see it: on drive Z:, the root
// of the file system.
std::string windows_path(const std::filesystem::path& path);

bool runs_natively();
bool is_windows_build();
// Whether faults can be injected into the tool by preloading a library,
// which a launcher would take for itself and a statically linked tool
// ignores.
bool can_inject_faults();

// What the Windows fault injector (windows_faults.cpp) does in one run.
struct win32_fault {
  // One call failing, every call of a name failing, or Ctrl-C before one.
  enum class kind { none, failure, failures, ctrl_c };
  kind what = kind::none;
  unsigned call = 0;        // the hooked call concerned, counting from 1
  unsigned long error = 0;  // the Win32 error a failure gives
  // The calls that fail: those listed so, or so and more ("WriteFile
  // out.txt", "GetFileInformationByHandleEx FileIdInfo").
  std::string name;
};

// A run of a program built with the injector, and the hooked calls it made,
// in order, each with the files it concerns ("CreateFileW out.txt",
// "GetFileInformationByHandleEx FileIdInfo out.txt").
struct injected_run {
  run_result result;
  std::vector<std::string> calls;
};

class upgrade_info_tool : public ::testing::Test {
 protected:
  run_result run(const std::vector<std::string>& args,
                 run_options options = {}) const;
  run_result run_checker(const std::vector<std::string>& args,
                         run_options options = {}) const;
  // Starts the tool and leaves it running, for a case that acts meanwhile.
  tool_process start(const std::vector<std::string>& args,
                     run_options options = {}) const;

  // Runs `injected`, suite.tool_with_faults or suite.checker_with_faults,
  // with `fault`.
  injected_run run_injected(const program& injected,
                            const std::vector<std::string>& args,
                            const win32_fault& fault,
                            run_options options = {}) const;

  static void expect_success(const run_result& result);
  static void expect_failure(const run_result& result,
                             std::string_view message);

  scratch_directory dir;
};

}  // namespace upgrade_info::testing

#endif  // UPGRADE_INFO_TESTS_TOOL_FIXTURE_H_
