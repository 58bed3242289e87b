#ifndef UPGRADE_INFO_INPUT_READER_H_
#define UPGRADE_INFO_INPUT_READER_H_

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

namespace upgrade_info {

enum class read_status {
  ok,
  empty,      // the stream measured no bytes (or could not be measured)
              // and reading it gave none
  too_large,  // the memory to hold it could not be had
  failed,     // the stream reported a read error
};

// A whole input, read into one heap block.
struct input_contents {
  struct free_block {
    void operator()(unsigned char* block) const { std::free(block); }
  };

  read_status status = read_status::ok;
  std::unique_ptr<unsigned char, free_block> data;
  std::size_t size = 0;

  std::span<const unsigned char> bytes() const { return {data.get(), size}; }
};

// Reads `stream` from where it stands to its end. The size it reports is
// only a hint for the first allocation: pipes and terminals report none,
// files under /proc report 0, and a file may grow while it is read.
input_contents read_whole_stream(std::FILE* stream);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_INPUT_READER_H_
