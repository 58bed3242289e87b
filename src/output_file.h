#ifndef UPGRADE_INFO_OUTPUT_FILE_H_
#define UPGRADE_INFO_OUTPUT_FILE_H_

#include <cstdio>
#include <string>

namespace upgrade_info {

// The output of one run, committed whole or not at all. A named output that
// is a regular file, or does not exist yet, is written to a new temporary
// file beside it and renamed over it only on commit; until then, and after
// any failure, the destination is exactly as it was. Standard output ("-"),
// devices, FIFOs, and destinations whose directory refuses a new file are
// written directly.
class output_file {
 public:
  // Opens the output that `name` stands for. Like stream_open_by_name, prints
  // "Failed opening '<name>' to write." and ends the process when it cannot.
  explicit output_file(const char* name);
  ~output_file();  // discards the output unless it was committed
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  std::FILE* stream() const { return stream_; }

  // Flushes and closes the stream and puts the file in its place. Returns
  // false when any of it failed; the output is then discarded.
  bool commit();

 private:
  std::FILE* create_temporary_beside(const std::string& target,
                                     const std::string& existing);
  void discard();

  std::FILE* stream_ = nullptr;
  std::string destination_;  // the file to replace; empty when written directly
  std::string temporary_;    // the temporary file while it exists
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_OUTPUT_FILE_H_
