// libFuzzer target: the parser of upgrade-info files takes any bytes, in
// any pieces, without crashing; its verdict does not depend on where the
// pieces break; whatever it accepts is exactly what the tool's own head
// makes of the content it found; and a file it finds written through a
// text-mode output verifies once each CR LF is an LF. The first byte of
// the input chooses where it breaks in two; the rest is the file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "format/upgrade_info_format.h"

namespace {

using namespace upgrade_info;

struct parsed {
  verdict result;
  std::string content;
};

parsed parse(std::span<const unsigned char> file, std::size_t split) {
  upgrade_info_parser parser;
  std::string content;
  for (const auto piece : {file.first(split), file.subspan(split)}) {
    const auto taken = parser.take(piece);
    content.append(reinterpret_cast<const char*>(taken.data()), taken.size());
  }
  return {parser.finish(), content};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::span<const unsigned char> file(data + 1, size - 1);
  const parsed whole = parse(file, 0);
  const parsed split = parse(file, data[0] % (file.size() + 1));
  if (split.result != whole.result) {
    std::fprintf(stderr, "the verdict changed where the bytes broke\n");
    std::abort();
  }
  if (whole.result == verdict::crlf_line_ends) {
    std::string lf;
    for (std::size_t i = 0; i < file.size(); ++i) {
      if (file[i] != '\r' || i + 1 == file.size() || file[i + 1] != '\n') {
        lf += static_cast<char>(file[i]);
      }
    }
    const auto bytes = reinterpret_cast<const unsigned char*>(lf.data());
    if (parse({bytes, lf.size()}, 0).result != verdict::verified) {
      std::fprintf(stderr, "CR LF line ends, but no file with LF ones\n");
      std::abort();
    }
  }
  if (whole.result != verdict::verified) {
    return 0;
  }
  content_checksum checksum;
  checksum.add({reinterpret_cast<const unsigned char*>(whole.content.data()),
                whole.content.size()});
  const std::string rewritten =
      upgrade_info_head(checksum.value()) + whole.content;
  if (split.content != whole.content ||
      rewritten != std::string(file.begin(), file.end())) {
    std::fprintf(stderr, "accepted a file that re-wrapping does not give\n");
    std::abort();
  }
  return 0;
}
