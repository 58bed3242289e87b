#ifndef UPGRADE_INFO_STREAM_IO_H_
#define UPGRADE_INFO_STREAM_IO_H_

// What reading and writing streams of any size needs beyond the standard
// library, whose fseek and ftell count in a long: 32 bits on Windows.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace upgrade_info {

// Memory for pieces of files that starts on a page, as the files' own
// pieces do: a copy between the two measured several times slower for some
// other alignments of the memory.
inline constexpr std::size_t PAGE = 4096;
struct page_deleter {
  void operator()(unsigned char* memory) const;
};
using page_memory = std::unique_ptr<unsigned char[], page_deleter>;
// `size` bytes, or nullptr when they cannot be had.
page_memory allocate_pages(std::size_t size);

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

// Whether the file open as `descriptor` is one of the kernel's own (on
// /proc, /sys and their like), whose size says nothing of what it holds
// and which may give other bytes on each reading.
bool is_kernel_file(int descriptor);

// How many bytes a file reports from where its stream stands to its end;
// -1 when it is no file of a known size (a pipe, a terminal, a device, a
// file of the kernel's).
std::int64_t stream_remaining(std::FILE* stream);

// Cuts or extends the file that `stream` writes, flushed, to `size` bytes.
bool stream_resize(std::FILE* stream, std::uint64_t size);

// Lets a pipe hold `size` bytes between its writer and this reader, so
// that each takes fewer turns; nothing for any other stream.
void enlarge_pipe(std::FILE* stream, int size);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_STREAM_IO_H_
