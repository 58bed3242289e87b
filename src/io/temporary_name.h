#ifndef UPGRADE_INFO_IO_TEMPORARY_NAME_H_
#define UPGRADE_INFO_IO_TEMPORARY_NAME_H_

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>

namespace upgrade_info {

// A fresh name for a temporary file beside the file `name`, hidden and
// recognisable: ".<name>.<six random characters>", with `name` cut short
// where needed so that the whole stays within `longest` code units.
template <typename Char>
std::basic_string<Char> temporary_name_for(std::basic_string_view<Char> name,
                                           std::size_t longest) {
  static constexpr char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);
  constexpr std::size_t RANDOM_PART = 6;

  // Cut between characters, never inside one: a file system that checks
  // names (exFAT) refuses a part of a character. A UTF-8 character goes on
  // in bytes 10xxxxxx, a UTF-16 one in a low surrogate.
  const auto starts_a_character = [](Char unit) {
    const auto code = static_cast<std::make_unsigned_t<Char>>(unit);
    return sizeof(Char) == 1 ? (code & 0xC0) != 0x80
                             : code < 0xDC00 || code > 0xDFFF;
  };
  std::size_t cut = std::min(name.size(), longest - RANDOM_PART - 2);
  while (cut > 0 && cut < name.size() && !starts_a_character(name[cut])) {
    --cut;
  }
  std::basic_string<Char> temporary(1, Char('.'));
  temporary += name.substr(0, cut);
  temporary += Char('.');
  for (std::size_t i = 0; i < RANDOM_PART; ++i) {
    temporary += static_cast<Char>(ALPHABET[pick(random)]);
  }
  return temporary;
}

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_TEMPORARY_NAME_H_
