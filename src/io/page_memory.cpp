#include "io/page_memory.h"

#include <new>

namespace upgrade_info {

void page_deleter::operator()(unsigned char* memory) const {
  ::operator delete[](memory, std::align_val_t{PAGE});
}

page_memory allocate_pages(std::size_t size) {
  return page_memory(static_cast<unsigned char*>(
      ::operator new[](size, std::align_val_t{PAGE}, std::nothrow)));
}

}  // namespace upgrade_info
