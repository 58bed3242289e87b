#ifndef UPGRADE_INFO_NAMED_STREAM_H_
#define UPGRADE_INFO_NAMED_STREAM_H_

#include <cstdio>

namespace upgrade_info {

// Opens the stream a command-line name stands for: "-" is standard output
// when `for_writing`, standard input otherwise; any other name is a path,
// opened as text ("r") for reading and as binary ("wb") for writing. Never
// returns on failure: prints "Failed opening '<name>' to read|write." and
// ends the process with FAILURE_STATUS.
std::FILE* stream_open_by_name(const char* name, bool for_writing);

// As stream_open_by_name, but returns nullptr when the path cannot be
// opened, for a caller that reports the failure itself.
std::FILE* stream_try_open_by_name(const char* name, bool for_writing);

// Releases a stream from stream_open_by_name. Standard input and standard
// output stay open; standard output is flushed. Returns false when anything
// written to the stream failed to reach its destination, including on close.
bool stream_release(std::FILE* stream);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_NAMED_STREAM_H_
