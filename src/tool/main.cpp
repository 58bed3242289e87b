// upgrade-info <input> [output]: wraps a text file into an upgrade-info file.

#include <cstdio>
#include <optional>
#include <string>

#include "format/upgrade_info_format.h"
#include "io/input_reader.h"
#include "io/io_status.h"
#include "io/text_output.h"
#include "replacement/output_file.h"
#include "startup/exit_status.h"
#include "startup/program.h"
#include "tool/upgrade_info_writer.h"

namespace upgrade_info {

namespace {

constexpr const char* DEFAULT_OUTPUT_NAME = "upgrade_info_7db780a713a4.txt";

// Writes the upgrade-info file of what `input`, reading into `memory`,
// gives to `output`, and puts it in its place.
io_status write_output(input_reader& input, const writer_memory& memory,
                       output_file& output) {
  io_status status = output.prepare();
  if (status == io_status::ok) {
    status = output.takes_bytes_in_order()
                 ? write_upgrade_info_in_order(input, output.stream())
                 : write_upgrade_info_file(input, memory, output.file());
  }
  // Released before the output takes the input's place, which Windows
  // refuses while the file is open.
  input.close();
  return status == io_status::ok ? output.commit() : status;
}

// The one message a failed run prints, then where an overwrite in place
// left the output's old contents, where it did: after a failure that could
// not give them back, or, rarely, after a success whose copy of them could
// not be removed.
std::string message(io_status status, const std::string& input_name,
                    const std::string& output_name,
                    const std::optional<std::string>& kept_copy) {
  const std::string kept = kept_copy
                               ? "The previous contents of '" + output_name +
                                     "' are kept in '" + *kept_copy + "'.\n"
                               : "";
  switch (status) {
    case io_status::ok:
      return kept;
    case io_status::input_refused:
      return "Failed opening '" + input_name + "' to read.\n";
    case io_status::empty:
      return "Input file is empty.\n";
    case io_status::utf16_text:
      return "Input file is UTF-16 text.\n";
    case io_status::too_large:
      return "Input file is too large.\n";
    case io_status::read_failed:
      return "Failed reading '" + input_name + "'.\n";
    case io_status::output_refused:
      return "Failed opening '" + output_name + "' to write.\n";
    case io_status::write_failed:
      return "Failed writing '" + output_name + "'.\n" + kept;
  }
  return {};
}

}  // namespace

int run_program(int argc, char* argv[]) {
  const std::string usage =
      "Usage: " + std::string(argc > 0 ? argv[0] : "upgrade-info") +
      " <input> [output]\n";
  if (argc == 2 && asks_for_help(argv[1])) {
    print(stdout, usage);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    print(stderr, usage);
    return FAILURE_STATUS;
  }
  const char* input_name = argv[1];
  const char* output_name = argc == 3 ? argv[2] : DEFAULT_OUTPUT_NAME;

  // The output's name is resolved before the program opens anything of
  // its own; nothing about it changes until the input's first piece is
  // read, so that an input that is empty or cannot be read leaves it
  // untouched.
  output_file output(output_name);
  const writer_memory memory;
  if (!memory) {
    print(stderr, message(io_status::too_large, input_name, output_name, {}));
    return FAILURE_STATUS;
  }
  std::optional<input_reader> input =
      input_reader::open(input_name, input_form::text, memory.piece());
  io_status status = input ? input->status() : io_status::input_refused;
  if (status == io_status::ok && is_utf16_text(input->first_piece())) {
    status = io_status::utf16_text;
  }
  if (status == io_status::ok) {
    status = output.status();
  }
  if (status == io_status::ok) {
    status = write_output(*input, memory, output);
  }
  const std::string said =
      message(status, input_name, output_name, output.kept_copy());
  if (!said.empty()) {
    print(stderr, said);
  }
  return status == io_status::ok ? 0 : FAILURE_STATUS;
}

}  // namespace upgrade_info
