#include "io/text_output.h"

namespace upgrade_info {

void print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace upgrade_info
