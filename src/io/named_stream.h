#ifndef UPGRADE_INFO_IO_NAMED_STREAM_H_
#define UPGRADE_INFO_IO_NAMED_STREAM_H_

#include <cstdio>

namespace upgrade_info {

// How an input's bytes reach the program: as the platform's text mode gives
// them (on Windows, CR LF as LF, and a Ctrl-Z ending the text), or exactly.
enum class input_form { text, bytes };

// The stream a command-line name stands for, to read from: "-" is standard
// input, read from where it stands; any other name is a path. Returns
// nullptr, with errno set, when the path cannot be opened.
std::FILE* stream_open_by_name(const char* name, input_form form);

// Releases a stream opened by name. Standard input stays open, to be read
// on by whoever reads it next; standard output is closed like any other,
// so that an error its file system reports only then (NFS) is seen.
// Returns false when anything written to the stream failed to reach its
// destination, including on close.
bool stream_release(std::FILE* stream);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_NAMED_STREAM_H_
