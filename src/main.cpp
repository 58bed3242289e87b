// upgrade-info <input> [output]: wraps a text file into an upgrade-info file.

#include <cstdio>
#include <string_view>

#include "exit_status.h"
#include "input_reader.h"
#include "named_stream.h"
#include "output_file.h"
#include "upgrade_info_writer.h"

namespace {

using namespace upgrade_info;

constexpr const char* DEFAULT_OUTPUT_NAME = "upgrade_info_7db780a713a4.txt";

constexpr std::string_view EMPTY_INPUT_MESSAGE = "Input file is empty.\n";

// Writes the upgrade-info file of what `input` gives to the output `name`
// stands for, and puts it in its place.
io_status write_output(input_reader& input, std::FILE* input_stream,
                       const char* name) {
  output_file output(name);
  io_status status = io_status::write_failed;
  if (output.stream() != nullptr) {
    status = output.takes_bytes_in_order()
                 ? write_upgrade_info_in_order(input, output.stream())
                 : write_upgrade_info_file(input, output.stream());
  }
  // Released before the output takes the input's place, which Windows
  // refuses while the file is open.
  stream_release(input_stream);
  if (status == io_status::ok && !output.commit()) {
    status = io_status::write_failed;
  }
  return status;
}

void report(io_status status, const char* input_name, const char* output_name) {
  switch (status) {
    case io_status::ok:
      break;
    case io_status::empty:
      std::fwrite(EMPTY_INPUT_MESSAGE.data(), 1, EMPTY_INPUT_MESSAGE.size(),
                  stderr);
      break;
    case io_status::too_large:
      std::fputs("Input file is too large.\n", stderr);
      break;
    case io_status::read_failed:
      std::fprintf(stderr, "Failed reading '%s'.\n", input_name);
      break;
    case io_status::write_failed:
      std::fprintf(stderr, "Failed writing '%s'.\n", output_name);
      break;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "Usage: %s <input> [output]\n",
                 argc > 0 ? argv[0] : "upgrade-info");
    return FAILURE_STATUS;
  }
  const char* input_name = argv[1];
  const char* output_name = argc == 3 ? argv[2] : DEFAULT_OUTPUT_NAME;

  // The first piece of the input is read before the output is opened, so
  // that an input that is empty or cannot be read leaves it untouched.
  std::FILE* input_stream = stream_open_by_name(input_name);
  input_reader input(input_stream);
  io_status status = input.status();
  if (status == io_status::ok) {
    status = write_output(input, input_stream, output_name);
  }
  report(status, input_name, output_name);
  return status == io_status::ok ? 0 : FAILURE_STATUS;
}
