#include "guarded_buffer.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace upgrade_info::testing {

namespace {

std::size_t page_size() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

void make_unreadable(unsigned char* page, std::size_t size) {
#ifdef _WIN32
  DWORD previous;
  const bool done = VirtualProtect(page, size, PAGE_NOACCESS, &previous);
#else
  const bool done = mprotect(page, size, PROT_NONE) == 0;
#endif
  if (!done) {
    throw std::runtime_error("cannot protect a guard page");
  }
}

}  // namespace

guarded_buffer::guarded_buffer(std::size_t capacity) {
  const std::size_t page = page_size();
  const std::size_t readable = (capacity + page - 1) / page * page;
  mapping_size_ = readable + 2 * page;
#ifdef _WIN32
  mapping_ = static_cast<unsigned char*>(VirtualAlloc(
      nullptr, mapping_size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
  void* mapping = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  mapping_ =
      mapping == MAP_FAILED ? nullptr : static_cast<unsigned char*>(mapping);
#endif
  if (mapping_ == nullptr) {
    throw std::runtime_error("cannot map a guarded buffer");
  }
  begin_ = mapping_ + page;
  end_ = begin_ + readable;
  make_unreadable(mapping_, page);
  make_unreadable(end_, page);
}

guarded_buffer::~guarded_buffer() {
#ifdef _WIN32
  VirtualFree(mapping_, 0, MEM_RELEASE);
#else
  munmap(mapping_, mapping_size_);
#endif
}

}  // namespace upgrade_info::testing
