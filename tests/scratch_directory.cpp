#include "scratch_directory.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace upgrade_info::testing {

scratch_directory::scratch_directory() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "upgrade-info-test-XXXXXX")
          .string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory");
  }
  path_ = pattern;
}

scratch_directory::~scratch_directory() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void scratch_directory::write(std::string_view name,
                              std::string_view bytes) const {
  std::ofstream file(path_ / name, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    throw std::runtime_error("cannot write " + (path_ / name).string());
  }
}

std::string scratch_directory::read(std::string_view name) const {
  std::ifstream file(path_ / name, std::ios::binary);
  if (!file) {
    throw std::runtime_error("cannot read " + (path_ / name).string());
  }
  return {std::istreambuf_iterator<char>(file),
          std::istreambuf_iterator<char>()};
}

std::vector<std::string> scratch_directory::listing_of(
    const std::filesystem::path& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace upgrade_info::testing
