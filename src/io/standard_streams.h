#ifndef UPGRADE_INFO_IO_STANDARD_STREAMS_H_
#define UPGRADE_INFO_IO_STANDARD_STREAMS_H_

namespace upgrade_info {

// A standard descriptor (0, 1 or 2) closed when the process starts is held
// by a file of the process's own, open the wrong way round (to write for
// standard input, to read for the others), so that reading or writing it
// fails as on a closed one and no file the program opens takes its number:
// a spill file given descriptor 1 would take what is meant for standard
// output. Linux only: Windows' runtime keeps the numbers itself.
// False when they cannot be held.
bool hold_closed_standard_streams();

// Whether `descriptor` is open on one of those held files, which a name of
// a standard stream (/dev/stdout) then reaches: it names no file.
bool is_held_standard_stream(int descriptor);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_STANDARD_STREAMS_H_
