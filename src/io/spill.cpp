#include "io/spill.h"

#include <utility>

namespace upgrade_info {

saved_copy::~saved_copy() { discard(); }

std::optional<std::string> saved_copy::keep() {
  if (path_.empty()) {
    return std::nullopt;
  }
  return std::exchange(path_, std::string());
}

}  // namespace upgrade_info
