#ifndef UPGRADE_INFO_TEMPORARY_NAME_H_
#define UPGRADE_INFO_TEMPORARY_NAME_H_

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace upgrade_info {

// A fresh name for a temporary file beside the file `name`, hidden and
// recognisable: ".<name>.<six random characters>", with `name` cut short
// where needed so that the whole stays within `longest` characters.
template <typename Char>
std::basic_string<Char> temporary_name_for(std::basic_string_view<Char> name,
                                           std::size_t longest) {
  static constexpr char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);
  constexpr std::size_t RANDOM_PART = 6;

  std::basic_string<Char> temporary(1, Char('.'));
  temporary += name.substr(0, longest - RANDOM_PART - 2);
  temporary += Char('.');
  for (std::size_t i = 0; i < RANDOM_PART; ++i) {
    temporary += static_cast<Char>(ALPHABET[pick(random)]);
  }
  return temporary;
}

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_TEMPORARY_NAME_H_
