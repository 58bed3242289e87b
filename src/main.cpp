// upgrade-info <input> [output]: wraps a text file into an upgrade-info file.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "exit_status.h"
#include "input_reader.h"
#include "named_stream.h"
#include "output_file.h"
#include "upgrade_info_format.h"

namespace {

constexpr const char* DEFAULT_OUTPUT_NAME = "upgrade_info_7db780a713a4.txt";

constexpr std::string_view EMPTY_INPUT_MESSAGE = "Input file is empty.\n";

void report_read_failure(upgrade_info::read_status status,
                         const char* input_name) {
  if (status == upgrade_info::read_status::empty) {
    std::fwrite(EMPTY_INPUT_MESSAGE.data(), 1, EMPTY_INPUT_MESSAGE.size(),
                stderr);
  } else if (status == upgrade_info::read_status::too_large) {
    std::fputs("Input file is too large.\n", stderr);
  } else {
    std::fprintf(stderr, "Failed reading '%s'.\n", input_name);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace upgrade_info;

  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "Usage: %s <input> [output]\n",
                 argc > 0 ? argv[0] : "upgrade-info");
    return FAILURE_STATUS;
  }
  const char* input_name = argv[1];
  const char* output_name = argc == 3 ? argv[2] : DEFAULT_OUTPUT_NAME;

  // The input is read whole and released before the output is opened, so
  // both may name the same file.
  std::FILE* input_stream = stream_open_by_name(input_name);
  const input_contents input = read_whole_stream(input_stream);
  stream_release(input_stream);
  if (input.status != read_status::ok) {
    report_read_failure(input.status, input_name);
    return FAILURE_STATUS;
  }

  const std::span<const unsigned char> content = content_of(input.bytes());
  const std::uint32_t checksum = upgrade_info_checksum(content);

  output_file output(output_name);
  if (output.stream() == nullptr ||
      !write_upgrade_info(output.stream(), checksum, content) ||
      !output.commit()) {
    std::fprintf(stderr, "Failed writing '%s'.\n", output_name);
    return FAILURE_STATUS;
  }
  return 0;
}
