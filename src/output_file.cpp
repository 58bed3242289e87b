#include "output_file.h"

#include <cstring>
#include <utility>

#include "named_stream.h"

namespace upgrade_info {

using namespace file_replacement;

output_file::output_file(const char* name) {
  treat_file_size_limit_as_write_error();
  if (std::strcmp(name, "-") == 0) {
    stream_ = stdout;
    return;
  }
  opened_destination opened = open_destination(name);
  switch (opened.kind) {
    case reached::refused:
      fail_opening(name, stream_direction::write);
    case reached::stream:
      stream_ = opened.stream;
      return;
    case reached::file:
    case reached::missing:
      break;
  }
  destination_ = std::move(opened.file);
  temporary_outcome outcome = temporary_outcome::failed;
  stream_ = create_temporary(*destination_, outcome);
  placement_ = placement::replacement;
  if (outcome != temporary_outcome::refused) {
    return;  // made, or no room for one: a failure, never a reason to
             // write in place
  }
  if (opened.kind == reached::missing) {
    fail_opening(name, stream_direction::write);
  }
  // The contents are complete in a spill file before the destination is
  // touched, so that they never come from the bytes being overwritten.
  stream_ = create_spill();
  placement_ = placement::in_place;
}

output_file::~output_file() {
  if (stream_ == nullptr) {
    return;
  }
  switch (std::exchange(placement_, placement::direct)) {
    case placement::direct:
      stream_release(stream_);
      break;
    case placement::replacement:
      discard_temporary(*destination_, stream_);
      break;
    case placement::in_place:
      std::fclose(stream_);
      break;
  }
}

bool output_file::commit() {
  std::FILE* stream = std::exchange(stream_, nullptr);
  if (stream == nullptr) {
    return false;
  }
  switch (placement_) {
    case placement::direct:
      return stream_release(stream);
    case placement::replacement:
      return commit_temporary(*destination_, stream);
    case placement::in_place: {
      const bool written = write_in_place(*destination_, stream);
      return std::fclose(stream) == 0 && written;
    }
  }
  return false;
}

}  // namespace upgrade_info
