#ifndef UPGRADE_INFO_IO_STREAM_IO_H_
#define UPGRADE_INFO_IO_STREAM_IO_H_

// What reading and writing streams of any size needs beyond the standard
// library, whose fseek and ftell count in a long (32 bits on Windows), and
// which knows neither files of the kernel's nor pipes. Each platform has
// its file.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace upgrade_info {

// Opens the file at `path` to read, in the platform's text mode or as its
// bytes; nullptr, with errno set, when it cannot be opened or names no
// file (on Linux, a standard stream closed at start: /dev/stdin).
std::FILE* open_to_read(const char* path, bool text);

// Makes `stream`, not used yet, pass each read and write straight to the
// system: for pieces much larger than any buffer, a buffer only splits
// them at its own bounds. Returns `stream`.
std::FILE* unbuffered(std::FILE* stream);

// Makes a standard stream pass bytes unchanged: on Windows, where they are
// text streams, no CR before each LF and no end at a Ctrl-Z.
void set_binary(std::FILE* stream);

// Writes all `size` bytes; false when the stream took fewer.
bool write_all(std::FILE* stream, const void* bytes, std::size_t size);

// Where the stream stands, or -1 when it cannot tell (a pipe, a terminal).
std::int64_t stream_tell(std::FILE* stream);
bool stream_seek(std::FILE* stream, std::uint64_t offset);

// How many bytes a file reports from where its stream stands to its end;
// -1 when it is no file of a known size (a pipe, a terminal, a device, a
// file of the kernel's).
std::int64_t stream_remaining(std::FILE* stream);

// Lets a pipe hold `size` bytes between its writer and this reader, so
// that each takes fewer turns; nothing for any other stream.
void enlarge_pipe(std::FILE* stream, int size);

#ifndef _WIN32
// Whether the file open as `descriptor` is one of the kernel's own (on
// /proc, /sys and their like), whose size says nothing of what it holds
// and which may give other bytes on each reading.
bool is_kernel_file(int descriptor);
#endif

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_STREAM_IO_H_
