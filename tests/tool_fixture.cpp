#include "tool_fixture.h"

#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <random>

#include "upgrade_info_format.h"

namespace upgrade_info::testing {

tool_command tool;

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

bool runs_natively() { return tool.launcher.empty(); }
bool is_windows_build() { return tool.executable.ends_with(".exe"); }

run_result upgrade_info_tool::run(const std::vector<std::string>& args,
                                  run_options options) const {
  return start(args, std::move(options)).wait();
}

run_result upgrade_info_tool::run_checker(const std::vector<std::string>& args,
                                          run_options options) const {
  tool_command checker = tool;
  checker.executable = tool.checker;
  options.directory = dir.path();
  return tool_process(checker, args, options).wait();
}

tool_process upgrade_info_tool::start(const std::vector<std::string>& args,
                                      run_options options) const {
  options.directory = dir.path();
  return tool_process(tool, args, options);
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

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  upgrade_info::testing::tool =
      upgrade_info::testing::tool_command_from(argc, argv);
  if (upgrade_info::testing::tool.executable.empty()) {
    std::fprintf(stderr,
                 "usage: %s --tool=PATH --checker=PATH [--launcher=WORDS] "
                 "[--fault-injection=PATH] [--file-holder=PATH]\n",
                 argv[0]);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  return RUN_ALL_TESTS();
}
