// upgrade-info-check [OPTION]... [FILE]...: verifies upgrade-info files.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "checker/check_command_line.h"
#include "checker/check_report.h"
#include "checker/source_notes.h"
#include "format/upgrade_info_format.h"
#include "io/file_handle.h"
#include "io/input_reader.h"
#include "io/named_stream.h"
#include "io/page_memory.h"
#include "io/replayed_input.h"
#include "io/stream_io.h"
#include "io/text_output.h"
#include "startup/program.h"

namespace upgrade_info {

namespace {

// Reads a file once, to its verdict, keeping the content in `content` and
// comparing it with the notes in `source` when they are there.
checked_file check_pass(input_reader& input, replayed_input* content,
                        source_notes::comparison* source) {
  upgrade_info_parser parser;
  while (!parser.decided()) {
    const std::span<const unsigned char> piece = input.next();
    if (piece.empty()) {
      break;
    }
    const std::span<const unsigned char> taken = parser.take(piece);
    if (content != nullptr) {
      content->keep(taken);
    }
    if (source != nullptr) {
      source->add(taken);
    }
  }
  checked_file checked;
  if (input.status() == io_status::read_failed) {
    checked.failure = std::strerror(input.error());
    return checked;
  }
  if (content != nullptr && content->status() != io_status::ok) {
    checked.failure = cannot_keep_it(content->error());
    return checked;
  }
  checked.result = parser.finish();
  // What a listing shows describes the file's own bytes: nothing for a file
  // whose checksum line is none, and no computed checksum or size for a
  // content that the parser read with each CR LF made an LF. The content
  // compared with the notes is the one whose size is shown.
  if (checked.result != verdict::bad_checksum_line) {
    checked.stored = parser.stored();
    if (checked.result != verdict::crlf_line_ends) {
      checked.computed = parser.computed();
    }
  }
  if (source != nullptr && checked.computed) {
    checked.source = source->finish();
  }
  return checked;
}

// With `extract`, the content is kept in a spill file as the file is
// verified, and goes to standard output from there once all of it is known
// to verify: a change to the file meanwhile cannot reach what goes out.
// The spill guards against changes to the file, not against the user's own
// programs writing into the spill itself, which on Windows is a named file
// in the user's temporary directory that others may open to write.
checked_file check_file(const char* name, const check_command_line& line,
                        std::span<unsigned char> memory, source_notes* notes) {
  errno = 0;
  std::optional<input_reader> opened =
      input_reader::open(name, input_form::bytes, memory);
  if (!opened) {
    checked_file checked;
    checked.failure = std::strerror(errno);
    return checked;
  }
  if (line.extract &&
      same_file(handle_of(opened->stream()), handle_of(stdout))) {
    checked_file checked;
    checked.writes_itself = true;
    return checked;
  }
  std::optional<replayed_input> content;
  if (line.extract) {
    content.emplace(*opened, replayed_input::source::spill);
  }
  std::optional<source_notes::comparison> source;
  if (notes != nullptr) {
    source.emplace(*notes);
  }
  checked_file checked = check_pass(*opened, content ? &*content : nullptr,
                                    source ? &*source : nullptr);
  if (notes != nullptr && checked.computed && !checked.source) {
    checked.notes_failure = notes->failure();
  }
  if (content && checked.verified()) {
    content->start_again();
    for (auto piece = content->next();
         !piece.empty() && write_all(stdout, piece.data(), piece.size());
         piece = content->next()) {
    }
    if (content->status() != io_status::ok) {
      checked.failure = std::strerror(content->error());
    }
  }
  return checked;
}

}  // namespace

int run_program(int argc, char* argv[]) {
  const check_command_line line = parse_check_command_line(argc, argv);
  check_report report(line);
  if (!line.error.empty()) {
    return report.usage_error();
  }
  if (line.help || line.version) {
    return report.help_or_version();
  }
  if (line.extract) {
    set_binary(stdout);
  }
  const page_memory piece = allocate_pages(input_reader::PIECE);
  const page_memory notes_piece =
      line.source != nullptr ? allocate_pages(input_reader::PIECE) : nullptr;
  std::optional<source_notes> notes;
  if (line.source != nullptr) {
    if (notes_piece == nullptr) {
      return report.notes_failed(std::strerror(ENOMEM));
    }
    notes.emplace(line.source,
                  std::span(notes_piece.get(), input_reader::PIECE));
    if (notes->failure()) {
      return report.notes_failed(*notes->failure());
    }
  }
  for (const char* name : line.files) {
    checked_file checked;
    if (piece == nullptr) {
      checked.failure = std::strerror(ENOMEM);
    } else {
      checked = check_file(name, line, {piece.get(), input_reader::PIECE},
                           notes ? &*notes : nullptr);
    }
    report.add(name, checked);
  }
  return report.finish();
}

}  // namespace upgrade_info
