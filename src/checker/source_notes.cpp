#include "checker/source_notes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "checker/check_report.h"
#include "format/upgrade_info_format.h"
#include "io/io_status.h"
#include "io/named_stream.h"

namespace upgrade_info {

namespace {

// The notes opened as upgrade-info opens its input; nothing, with errno
// set, when they cannot be.
std::optional<input_reader> open_notes(const char* name,
                                       std::span<unsigned char> piece) {
  errno = 0;
  return input_reader::open(name, input_form::text, piece);
}

}  // namespace

source_notes::source_notes(const char* name, std::span<unsigned char> piece)
    : input_(open_notes(name, piece)) {
  if (!input_) {
    fail(std::strerror(errno));
    return;
  }
  if (input_->status() == io_status::empty) {
    fail("empty, which upgrade-info refuses");
    return;
  }
  if (is_utf16_text(input_->first_piece())) {
    fail("UTF-16 text, which upgrade-info refuses");
    return;
  }
  // A file is read again for each comparison; what can be read only once
  // is kept in a spill file.
  kept_.emplace(*input_, replayed_input::source::file_again);
  for (auto read = input_->next(); !read.empty(); read = input_->next()) {
    const std::span<const unsigned char> content = content_of(read);
    kept_->keep(content);
    if (content.size() != read.size()) {
      break;
    }
  }
  if (input_->status() != io_status::ok) {
    fail(std::strerror(input_->error()));
  } else if (kept_->status() != io_status::ok) {
    fail(cannot_keep_it(kept_->error()));
  }
}

void source_notes::fail(const std::string& reason) {
  if (!failure_) {
    failure_ = reason;
  }
}

source_notes::comparison::comparison(source_notes& notes) : notes_(notes) {
  notes_.kept_->start_again();
}

void source_notes::comparison::add(std::span<const unsigned char> content) {
  while (!match_.differs && !content.empty()) {
    if (pending_.empty()) {
      pending_ = notes_.kept_->next();
      if (pending_.empty()) {
        match_.differs = true;  // the content goes on past the notes
        return;
      }
    }
    const std::size_t length = std::min(content.size(), pending_.size());
    const auto end = content.begin() + static_cast<std::ptrdiff_t>(length);
    const auto first_other =
        std::mismatch(content.begin(), end, pending_.begin()).first;
    match_.offset += static_cast<std::uint64_t>(first_other - content.begin());
    match_.line += static_cast<std::uint64_t>(
        std::count(content.begin(), first_other, '\n'));
    match_.differs = first_other != end;
    content = content.subspan(length);
    pending_ = pending_.subspan(length);
  }
}

std::optional<source_match> source_notes::comparison::finish() {
  match_.differs =
      match_.differs || !pending_.empty() || !notes_.kept_->next().empty();
  if (notes_.kept_->status() != io_status::ok) {
    notes_.fail("could not be read again as they were");
    return std::nullopt;
  }
  return match_;
}

}  // namespace upgrade_info
