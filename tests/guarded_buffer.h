#ifndef UPGRADE_INFO_TESTS_GUARDED_BUFFER_H_
#define UPGRADE_INFO_TESTS_GUARDED_BUFFER_H_

#include <cstddef>

namespace upgrade_info::testing {

// Readable memory with an unreadable page right before and right after it,
// so that reading a byte outside it crashes instead of going unnoticed.
class guarded_buffer {
 public:
  explicit guarded_buffer(std::size_t capacity);
  guarded_buffer(const guarded_buffer&) = delete;
  guarded_buffer& operator=(const guarded_buffer&) = delete;
  ~guarded_buffer();

  // The first readable byte (just after the lower guard page), and the end
  // of the readable bytes (just before the upper one).
  unsigned char* begin() const { return begin_; }
  unsigned char* end() const { return end_; }

 private:
  unsigned char* mapping_ = nullptr;
  std::size_t mapping_size_ = 0;
  unsigned char* begin_ = nullptr;
  unsigned char* end_ = nullptr;
};

}  // namespace upgrade_info::testing

#endif  // UPGRADE_INFO_TESTS_GUARDED_BUFFER_H_
