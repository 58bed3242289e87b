#ifndef UPGRADE_INFO_IO_FILE_HANDLE_H_
#define UPGRADE_INFO_IO_FILE_HANDLE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

namespace upgrade_info {

#ifdef _WIN32
using native_handle = void*;  // a HANDLE
#else
using native_handle = int;  // a descriptor
#endif

// A file open in the operating system itself, read and written at offsets:
// no buffer in between, and no position shared with anyone. Closed when it
// goes.
class file_handle {
 public:
  file_handle() = default;
  explicit file_handle(native_handle handle) : handle_(handle) {}
  file_handle(file_handle&& other) noexcept
      : handle_(std::exchange(other.handle_, invalid())) {}
  file_handle& operator=(file_handle&& other) noexcept {
    close();
    handle_ = std::exchange(other.handle_, invalid());
    return *this;
  }
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  ~file_handle() { close(); }

  explicit operator bool() const { return handle_ != invalid(); }
  native_handle get() const { return handle_; }
  // Lets go of the file without closing it: the caller owns it now.
  native_handle release() { return std::exchange(handle_, invalid()); }
  // Closes the file; false when the system reports that what was written
  // failed to reach it.
  bool close();
  // Closes a duplicate of the handle: where a file system writes back only
  // when a file is closed (NFS), the write-back and its errors come now,
  // while the file stays open.
  bool close_duplicate() const;

  std::optional<std::uint64_t> size() const;
  // Reads up to `size` bytes from `at`: how many, 0 at the end of the file,
  // or nothing when the read failed.
  std::optional<std::size_t> read_at(void* bytes, std::size_t size,
                                     std::uint64_t at) const;
  // Reads exactly `size` bytes from `at`; false when fewer could be read.
  bool read_all_at(void* bytes, std::size_t size, std::uint64_t at) const;
  // Writes all `size` bytes at `at`.
  bool write_at(const void* bytes, std::size_t size, std::uint64_t at);
  // Cuts or extends the file to `size` bytes.
  bool resize(std::uint64_t size);
  // Waits until no other run of the tools holds the file this way, then
  // holds it until the handle is closed, so that runs that write it in
  // place take turns.
  bool lock();

  static native_handle invalid() {
#ifdef _WIN32
    return reinterpret_cast<native_handle>(std::intptr_t{-1});
#else
    return -1;
#endif
  }

 private:
  native_handle handle_ = invalid();
};

#ifdef _WIN32
// What tells one file from every other: its volume and its ID there.
struct file_identity {
  std::uint64_t volume = 0;
  unsigned char id[16] = {};
};
// Nothing where the file system cannot tell.
std::optional<file_identity> identity_of(native_handle file);
// Wine gives a handle open only to write, as a redirected standard output
// is, no volume (0): the ID alone must then tell.
bool same_identity(const file_identity& a, const file_identity& b);

// Marks the file to go when its last handle closes, however the process
// ends (a console closed, a logoff, a kill), or takes the mark back.
bool mark_to_go(const file_handle& file, bool go);

// Sets errno to what the thread's last Windows error means, so that a
// failure gives the same reason on both platforms (a handle's reads and
// writes set it so themselves).
void errno_from_last_error();
#endif

#ifndef _WIN32
// Takes a lock of `type` (F_RDLCK, F_WRLCK; F_UNLCK lets go) on the whole
// file open as `file`, of the kind runs of the tools hold (an open file
// description lock); where one of them holds a conflicting one, waits for
// it while `waiting`, else fails with EAGAIN. A process's record lock (lockf,
// fcntl's F_SETLK) is no run's: its holder may be the caller, waiting for
// this run, so it is never waited for, and the run goes on without a lock.
bool take_run_lock(int file, short type, bool waiting);
// Whether a file made with no name (O_TMPFILE) can be given one later:
// through /proc, or by a user who may read any file.
bool unnamed_files_can_be_named();
// Gives the unnamed file open as `file` the name `name`, taken from the
// directory open as `directory`.
bool link_unnamed(const file_handle& file, int directory, const char* name);
#endif

// The handle of the file under a stream.
native_handle handle_of(std::FILE* stream);

// Waits while a run of the tools writes the regular file open as `file` in
// place or changes its name, then holds it against them, so that an input
// is never read half overwritten; let go before the run puts its own
// output in place, which may be that file. Anything else, or a file the
// system locks for no one, is read as it stands.
void hold_for_reading(native_handle file);
void let_go_after_reading(native_handle file);

// Whether the two handles are on one file (one device and inode, or one
// volume and file ID); false where either cannot tell.
bool same_file(native_handle a, native_handle b);

// Writes the first `length` bytes of `from` over the start of `to`, a
// piece at a time; false when a read or a write failed, or `from` ended
// before `length`.
bool copy_contents(const file_handle& from, file_handle& to,
                   std::uint64_t length);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_FILE_HANDLE_H_
