#include "tool_fixture.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "format/upgrade_info_format.h"

namespace upgrade_info::testing {

programs_under_test suite;

std::string wrapped(std::string_view content) {
  const std::string covered = std::string(MAGIC_LINE) + std::string(content);
  const uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(covered.data()),
                            covered.size());
  return "CRC:" + std::to_string(crc) + "\n" + covered;
}

std::string random_text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text(size, '\0');
  for (char& c : text) {
    do {
      c = static_cast<char>(byte(random));
    } while (c == '\r' || c == '\x1A');
  }
  return text;
}

std::string text_with_checksum(std::size_t size, std::uint32_t checksum) {
  // CRC-32 is linear, so four bytes at the end reach any checksum. The
  // steps that end in it are found backwards, each table entry having a
  // top byte of its own; then the bytes that take those steps, forwards.
  std::array<std::uint32_t, 256> table{};
  std::array<unsigned char, 256> by_top_byte{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    const auto byte = static_cast<Bytef>(n);
    table[n] = ~static_cast<std::uint32_t>(crc32_z(0xFFFFFFFF, &byte, 1));
    by_top_byte[table[n] >> 24] = static_cast<unsigned char>(n);
  }
  for (unsigned seed = 0;; ++seed) {
    std::string text = random_text(size - 4, seed);
    const std::string covered = std::string(MAGIC_LINE) + text;
    std::uint32_t state = ~static_cast<std::uint32_t>(crc32_z(
        0, reinterpret_cast<const Bytef*>(covered.data()), covered.size()));
    std::array<unsigned char, 4> steps{};
    std::uint32_t end = ~checksum;
    for (std::size_t i = steps.size(); i-- > 0;) {
      steps[i] = by_top_byte[end >> 24];
      end = (end ^ table[steps[i]]) << 8;
    }
    for (const unsigned char step : steps) {
      text += static_cast<char>((state ^ step) & 0xFF);
      state = table[step] ^ (state >> 8);
    }
    if (text.find_first_of(std::string("\0\r\x1A", 3), size - 4) ==
        std::string::npos) {
      return text;
    }
  }
}

std::string as_on_standard_stream(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\n' && is_windows_build()) {
      text += '\r';
    }
    text += c;
  }
  return text;
}

std::string windows_path(const std::filesystem::path& path) {
  std::string windows = "Z:" + path.string();
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

bool runs_natively() { return suite.tool.launcher.empty(); }
bool is_windows_build() { return suite.tool.executable.ends_with(".exe"); }

bool can_inject_faults() {
  static const bool preloads = [] {
    if (!runs_natively() || suite.fault_injection.empty()) {
      return false;
    }
    const scratch_directory probe;
    run_options options;
    options.directory = probe.path();
    options.faults = {"FAULT_PROBE=" + (probe / "loaded").string()};
    options.fault_injection = suite.fault_injection;
    tool_process(suite.tool, {}, options).wait();
    return std::filesystem::exists(probe / "loaded");
  }();
  return preloads;
}

run_result upgrade_info_tool::run(const std::vector<std::string>& args,
                                  run_options options) const {
  return start(args, std::move(options)).wait();
}

run_result upgrade_info_tool::run_checker(const std::vector<std::string>& args,
                                          run_options options) const {
  options.directory = dir.path();
  options.fault_injection = suite.fault_injection;
  return tool_process(suite.checker, args, options).wait();
}

tool_process upgrade_info_tool::start(const std::vector<std::string>& args,
                                      run_options options) const {
  options.directory = dir.path();
  options.fault_injection = suite.fault_injection;
  return tool_process(suite.tool, args, options);
}

injected_run upgrade_info_tool::run_injected(
    const program& injected, const std::vector<std::string>& args,
    const win32_fault& fault, run_options options) const {
  // Outside the case's directory, which the case inspects.
  const scratch_directory listing;
  options.directory = dir.path();
  options.environment.push_back("FAULT_CALLS=" +
                                windows_path(listing / "calls"));
  switch (fault.what) {
    case win32_fault::kind::none:
      break;
    case win32_fault::kind::failure:
      options.environment.push_back("FAULT_FAIL_AT=" +
                                    std::to_string(fault.call));
      options.environment.push_back("FAULT_ERROR=" +
                                    std::to_string(fault.error));
      break;
    case win32_fault::kind::failures:
      options.environment.push_back("FAULT_FAIL_EVERY=" + fault.name);
      options.environment.push_back("FAULT_ERROR=" +
                                    std::to_string(fault.error));
      break;
    case win32_fault::kind::ctrl_c:
      options.environment.push_back("FAULT_CTRL_C_AT=" +
                                    std::to_string(fault.call));
      break;
  }
  // A program that made no call at all was never started: on a busy
  // machine wine now and then fails to, and gives status 1.
  injected_run run;
  for (int attempt = 0; attempt < 3 && run.calls.empty(); ++attempt) {
    run.result = tool_process(injected, args, options).wait();
    std::ifstream calls(listing / "calls");
    for (std::string call; std::getline(calls, call);) {
      run.calls.push_back(call);
    }
  }
  return run;
}

void upgrade_info_tool::expect_success(const run_result& result) {
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "");
}

void upgrade_info_tool::expect_failure(const run_result& result,
                                       std::string_view message) {
  EXPECT_EQ(result.status, FAILURE);
  EXPECT_EQ(result.err, as_on_standard_stream(message));
  EXPECT_EQ(result.out, "");
}

}  // namespace upgrade_info::testing
