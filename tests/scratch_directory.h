#ifndef UPGRADE_INFO_TESTS_SCRATCH_DIRECTORY_H_
#define UPGRADE_INFO_TESTS_SCRATCH_DIRECTORY_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace upgrade_info::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class scratch_directory {
 public:
  scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;
  ~scratch_directory();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const {
    return path_ / name;
  }

  void write(std::string_view name, std::string_view bytes) const;
  std::string read(std::string_view name) const;
  // The names of the entries, sorted.
  std::vector<std::string> listing() const { return listing_of(path_); }
  static std::vector<std::string> listing_of(const std::filesystem::path& path);

 private:
  std::filesystem::path path_;
};

}  // namespace upgrade_info::testing

#endif  // UPGRADE_INFO_TESTS_SCRATCH_DIRECTORY_H_
