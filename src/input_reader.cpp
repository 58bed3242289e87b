#include "input_reader.h"

#include <cstdint>

namespace upgrade_info {

namespace {

// Where the stream cannot report a size, reading starts with this much.
constexpr std::size_t INITIAL_CAPACITY = std::size_t{64} << 10;

// The size the stream reports from a seek to its end, or -1 when it cannot
// seek; either way the stream is left at its start with its error cleared.
std::int64_t measure_then_rewind(std::FILE* stream) {
#ifdef _WIN32
  // The 32-bit long of fseek and ftell would stop sizes at 2 GiB.
  const bool at_end = _fseeki64(stream, 0, SEEK_END) == 0;
  const std::int64_t size = at_end ? _ftelli64(stream) : -1;
#else
  const bool at_end = fseeko(stream, 0, SEEK_END) == 0;
  const std::int64_t size = at_end ? ftello(stream) : -1;
#endif
  std::rewind(stream);
  return size;
}

bool resize_block(input_contents& input, std::size_t capacity) {
  void* resized = std::realloc(input.data.get(), capacity);
  if (resized == nullptr) {
    return false;
  }
  input.data.release();
  input.data.reset(static_cast<unsigned char*>(resized));
  return true;
}

input_contents failure(read_status status) {
  input_contents input;
  input.status = status;
  return input;
}

}  // namespace

input_contents read_whole_stream(std::FILE* stream) {
  const std::int64_t measured = measure_then_rewind(stream);
  input_contents input;
  // One byte beyond the measured size lets the first read meet the end of
  // the file, so a file that keeps its size is read in one call.
  std::size_t capacity = INITIAL_CAPACITY;
  if (measured > 0 && static_cast<std::uint64_t>(measured) < SIZE_MAX) {
    capacity = static_cast<std::size_t>(measured) + 1;
  }
  // A size that cannot be had at once may be false (a directory reports the
  // largest offset there is): then reading from a small block decides.
  if (!resize_block(input, capacity)) {
    capacity = INITIAL_CAPACITY;
    if (!resize_block(input, capacity)) {
      return failure(read_status::too_large);
    }
  }
  for (;;) {
    input.size += std::fread(input.data.get() + input.size, 1,
                             capacity - input.size, stream);
    if (std::ferror(stream) != 0) {
      return failure(read_status::failed);
    }
    if (std::feof(stream) != 0) {
      break;
    }
    if (capacity > SIZE_MAX / 2 || !resize_block(input, capacity * 2)) {
      return failure(read_status::too_large);
    }
    capacity *= 2;
  }
  if (input.size == 0 && measured <= 0) {
    return failure(read_status::empty);
  }
  return input;
}

}  // namespace upgrade_info
