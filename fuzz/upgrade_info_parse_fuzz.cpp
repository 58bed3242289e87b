// libFuzzer target: the parser of upgrade-info files takes any bytes
// without crashing, and whatever it accepts is exactly what the tool's own
// writer makes of the content it found.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrade_info_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace upgrade_info;
  const parsed_upgrade_info parsed = parse_upgrade_info({data, size});
  if (parsed.result != verdict::verified) {
    return 0;
  }
  char* written = nullptr;
  std::size_t written_size = 0;
  std::FILE* memory = open_memstream(&written, &written_size);
  const bool ok =
      memory != nullptr &&
      write_upgrade_info(memory, upgrade_info_checksum(parsed.content),
                         parsed.content) &&
      std::fclose(memory) == 0;
  if (!ok || written_size != size || std::memcmp(written, data, size) != 0) {
    std::fprintf(stderr, "accepted a file that re-wrapping does not give\n");
    std::abort();
  }
  std::free(written);
  return 0;
}
