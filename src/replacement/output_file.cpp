#include "replacement/output_file.h"

#include <cstring>
#include <utility>

#include "named_stream.h"
#include "replacement/in_place.h"
#include "replacement/spill.h"
#include "replacement/temporary.h"
#include "replacement/termination.h"

namespace upgrade_info {

output_file::output_file(const char* name) {
  if (std::strcmp(name, "-") == 0) {
    stream_ = stdout;
    return;
  }
  opened_destination opened = open_destination(name);
  if (opened.kind == reached::refused) {
    status_ = io_status::output_refused;
    return;
  }
  if (opened.kind == reached::stream) {
    stream_ = opened.stream;
    return;
  }
  destination_ = std::move(opened.target);
  temporary_outcome outcome = temporary_outcome::failed;
  file_ = create_temporary(*destination_, outcome);
  placement_ = placement::replacement;
  if (outcome == temporary_outcome::made) {
    return;
  }
  // No room for a temporary is a failure, never a reason to write in place.
  if (outcome == temporary_outcome::failed) {
    status_ = io_status::write_failed;
  } else if (opened.kind == reached::missing) {
    status_ = io_status::output_refused;
  } else {
    // The contents are complete in a spill file before the destination is
    // touched, so that they never come from the bytes being overwritten.
    file_ = create_spill();
    placement_ = placement::in_place;
    status_ = file_ ? io_status::ok : io_status::write_failed;
  }
}

output_file::~output_file() {
  if (placement_ == placement::replacement && destination_ != nullptr) {
    discard_temporary(*destination_);
  } else if (placement_ == placement::direct && stream_ != nullptr) {
    stream_release(stream_);
  }
}

io_status output_file::commit() {
  if (placement_ == placement::direct) {
    return stream_release(std::exchange(stream_, nullptr))
               ? io_status::ok
               : io_status::write_failed;
  }
  const std::optional<std::uint64_t> length = file_.size();
  if (!length || !file_.close_duplicate()) {
    return io_status::write_failed;
  }
  termination_held held;
  if (placement_ == placement::replacement) {
    switch (commit_temporary(*destination_, file_, held)) {
      case commit_outcome::replaced:
        held.keep();
        return io_status::ok;
      case commit_outcome::refused:
        return io_status::output_refused;
      case commit_outcome::failed:
        return io_status::write_failed;
      case commit_outcome::in_place:
        break;
    }
  }
  const in_place_result result = write_in_place(*destination_, file_, *length);
  kept_copy_ = result.kept_copy;
  return result.written ? io_status::ok : io_status::write_failed;
}

}  // namespace upgrade_info
