#ifndef UPGRADE_INFO_IO_PAGE_MEMORY_H_
#define UPGRADE_INFO_IO_PAGE_MEMORY_H_

#include <cstddef>
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

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_PAGE_MEMORY_H_
