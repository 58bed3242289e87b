#include "replacement/output_file.h"

#include <cstring>
#include <utility>

#include "io/named_stream.h"
#include "io/spill.h"
#include "io/termination.h"
#include "replacement/in_place.h"
#include "replacement/temporary.h"

namespace upgrade_info {

output_file::output_file(const char* name) : name_(name) {
  if (std::strcmp(name, "-") == 0) {
    stream_ = stdout;
    return;
  }
  opened_ = open_destination(name, false);
  status_ = opened_.kind == reached::refused ? io_status::output_refused
                                             : io_status::ok;
}

io_status output_file::prepare() {
  if (opened_.kind == reached::fifo) {
    opened_ = open_destination(name_, true);
    if (opened_.kind == reached::refused) {
      return io_status::output_refused;
    }
  }
  if (opened_.kind == reached::stream) {
    stream_ = std::exchange(opened_.stream, nullptr);
  }
  if (stream_ != nullptr) {
    return io_status::ok;
  }
  temporary_outcome outcome = temporary_outcome::failed;
  file_ = create_temporary(*opened_.target, outcome);
  placement_ = placement::replacement;
  if (outcome == temporary_outcome::made) {
    return io_status::ok;
  }
  // Only the system's refusal is a reason to write in place: no room, or
  // any other error, is a failure.
  if (outcome == temporary_outcome::failed) {
    return io_status::write_failed;
  }
  if (opened_.kind == reached::missing) {
    return io_status::output_refused;
  }
  // The contents are complete in a spill file before the destination is
  // touched, so that they never come from the bytes being overwritten.
  file_ = create_spill();
  placement_ = placement::in_place;
  return file_ ? io_status::ok : io_status::write_failed;
}

output_file::~output_file() {
  if (placement_ == placement::replacement) {
    discard_temporary(*opened_.target);
  } else if (stream_ != nullptr) {
    stream_release(stream_);
  } else if (opened_.stream != nullptr) {
    std::fclose(opened_.stream);
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
  destination& target = *opened_.target;
  if (placement_ == placement::replacement) {
    termination_held held;
    switch (commit_temporary(target, file_, held)) {
      case commit_outcome::replaced:
        held.keep();
        return io_status::ok;
      case commit_outcome::failed:
        return io_status::write_failed;
      case commit_outcome::in_place:
        break;
    }
  }
  // Signals are held again once the turn to write in place has come.
  in_place_result result = write_in_place(target, file_, *length);
  kept_copy_ = std::move(result.kept_copy);
  return result.written ? io_status::ok : io_status::write_failed;
}

}  // namespace upgrade_info
