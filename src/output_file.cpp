#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "file_replacement.h"
#include "named_stream.h"

namespace upgrade_info {

namespace {

#ifdef _WIN32
constexpr const char* PATH_SEPARATORS = "/\\:";
#else
constexpr const char* PATH_SEPARATORS = "/";
#endif

// A fresh name for the temporary file in `target`'s directory, hidden and
// recognisable: ".<name>.<six random characters>".
std::string temporary_name_for(const std::string& target) {
  static constexpr char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);

  // Just past the last separator; npos + 1 is 0 for a bare file name.
  const std::size_t cut = target.find_last_of(PATH_SEPARATORS) + 1;
  std::string name = target.substr(0, cut) + "." + target.substr(cut) + ".";
  for (int i = 0; i < 6; ++i) {
    name += ALPHABET[pick(random)];
  }
  return name;
}

// Writes `source`'s bytes into `destination` in place, for a destination
// that cannot be renamed over.
bool copy_in_place(const std::string& source, const std::string& destination) {
  std::FILE* from = std::fopen(source.c_str(), "rb");
  if (from == nullptr) {
    return false;
  }
  std::FILE* to = std::fopen(destination.c_str(), "wb");
  bool copied = to != nullptr;
  char buffer[1 << 16];
  while (copied) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, from);
    copied = std::fwrite(buffer, 1, got, to) == got && std::ferror(from) == 0;
    if (got < sizeof buffer) {
      break;
    }
  }
  std::fclose(from);
  return to != nullptr && stream_release(to) && copied;
}

}  // namespace

output_file::output_file(const char* name) {
  file_replacement::treat_file_size_limit_as_write_error();
  if (std::strcmp(name, "-") != 0) {
    const std::string target = file_replacement::final_target(name);
    switch (file_replacement::inspect(target)) {
      case file_replacement::destination::missing:
        stream_ = create_temporary_beside(target, "");
        break;
      case file_replacement::destination::writable_file:
        stream_ = create_temporary_beside(target, target);
        break;
      case file_replacement::destination::other:
        break;
    }
  }
  if (stream_ == nullptr) {
    stream_ = stream_open_by_name(name, true);
  }
}

output_file::~output_file() { discard(); }

std::FILE* output_file::create_temporary_beside(const std::string& target,
                                                const std::string& existing) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name_for(target);
    if (std::FILE* stream =
            file_replacement::create_temporary(name, existing)) {
      destination_ = target;
      temporary_ = std::move(name);
      return stream;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return nullptr;
}

bool output_file::commit() {
  bool committed = stream_release(std::exchange(stream_, nullptr));
  if (temporary_.empty()) {
    return committed;
  }
  if (committed) {
    switch (
        file_replacement::replace_with_temporary(temporary_, destination_)) {
      case file_replacement::replacement::done:
        temporary_.clear();
        return true;
      case file_replacement::replacement::cannot_rename:
        committed = copy_in_place(temporary_, destination_);
        break;
      case file_replacement::replacement::failed:
        committed = false;
        break;
    }
  }
  discard();
  return committed;
}

void output_file::discard() {
  if (stream_ != nullptr) {
    stream_release(std::exchange(stream_, nullptr));
  }
  if (!temporary_.empty()) {
    file_replacement::remove_temporary(std::exchange(temporary_, {}));
  }
}

}  // namespace upgrade_info
