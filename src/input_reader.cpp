#include "input_reader.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace upgrade_info {

namespace {

// Where the stream cannot report a size, reading starts with this much.
constexpr std::size_t INITIAL_CAPACITY = std::size_t{64} << 10;

// How many bytes the stream reports from where it stands to its end, or -1
// when it cannot seek; either way it is left where it stood. Standard input
// may be a file that the caller has read part of.
std::int64_t measure_remaining(std::FILE* stream) {
#ifdef _WIN32
  // The 32-bit long of fseek and ftell would stop sizes at 2 GiB.
  const std::int64_t start = _ftelli64(stream);
  const bool at_end = start >= 0 && _fseeki64(stream, 0, SEEK_END) == 0;
  const std::int64_t end = at_end ? _ftelli64(stream) : -1;
  const bool back = at_end && _fseeki64(stream, start, SEEK_SET) == 0;
#else
  const std::int64_t start = ftello(stream);
  const bool at_end = start >= 0 && fseeko(stream, 0, SEEK_END) == 0;
  const std::int64_t end = at_end ? ftello(stream) : -1;
  const bool back = at_end && fseeko(stream, start, SEEK_SET) == 0;
#endif
  std::clearerr(stream);
  return back && end >= start ? end - start : -1;
}

// Fresh memory costs a page fault per page when first written; for inputs
// of hundreds of megabytes those faults take longer than the rest of the
// run. Huge pages make it one fault per 2 MiB.
void prefer_huge_pages(unsigned char* block, std::size_t size) {
#ifdef __linux__
  constexpr std::size_t WORTH_IT = std::size_t{4} << 20;
  if (size >= WORTH_IT) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin =
        (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
    const auto end =
        (reinterpret_cast<std::uintptr_t>(block) + size) & ~(page - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#else
  (void)block;
  (void)size;
#endif
}

bool resize_block(input_contents& input, std::size_t capacity) {
  void* resized = std::realloc(input.data.get(), capacity);
  if (resized == nullptr) {
    return false;
  }
  input.data.release();
  input.data.reset(static_cast<unsigned char*>(resized));
  prefer_huge_pages(input.data.get(), capacity);
  return true;
}

input_contents failure(read_status status) {
  input_contents input;
  input.status = status;
  return input;
}

}  // namespace

input_contents read_whole_stream(std::FILE* stream) {
  const std::int64_t measured = measure_remaining(stream);
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
