#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "io/stream_io.h"
#include "io/windows_path.h"

namespace upgrade_info {

std::FILE* open_to_read(const char* path, bool text) {
  return _wfopen(native_path(path).c_str(), text ? L"r" : L"rb");
}

void set_binary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

std::int64_t stream_tell(std::FILE* stream) { return _ftelli64(stream); }

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t stream_remaining(std::FILE* stream) {
  struct _stati64 status {};
  const std::int64_t at = stream_tell(stream);
  if (_fstati64(_fileno(stream), &status) != 0 ||
      (status.st_mode & _S_IFMT) != _S_IFREG || at < 0) {
    return -1;
  }
  return status.st_size > at ? status.st_size - at : 0;
}

// Windows gives a pipe the room its writer asked for.
void enlarge_pipe(std::FILE*, int) {}

}  // namespace upgrade_info
