#include "io/stream_io.h"

namespace upgrade_info {

std::FILE* unbuffered(std::FILE* stream) {
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

bool write_all(std::FILE* stream, const void* bytes, std::size_t size) {
  return size == 0 || std::fwrite(bytes, 1, size, stream) == size;
}

}  // namespace upgrade_info
