#ifndef UPGRADE_INFO_CHECKER_SOURCE_NOTES_H_
#define UPGRADE_INFO_CHECKER_SOURCE_NOTES_H_

// The notes a file's content must be for --source: what upgrade-info would
// wrap of them on this platform, read as it reads its input, then compared
// with each file's content as both come, a piece at a time.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "io/input_reader.h"
#include "io/replayed_input.h"

namespace upgrade_info {

// How a content compares with the notes: whether it differs, and where:
// the offset of its first byte that is not theirs (its length, where it is
// cut short of them, or theirs, where it goes on past them), and that
// byte's line, from 1.
struct source_match {
  bool differs = false;
  std::uint64_t offset = 0;
  std::uint64_t line = 1;
};

class source_notes {
 public:
  // Reads the notes `name` stands for ("-" is standard input) through once,
  // into `piece`, which must outlive them, keeping them where they cannot
  // be read again.
  source_notes(const char* name, std::span<unsigned char> piece);

  // Why nothing can be compared with them, in a few words: upgrade-info
  // would wrap nothing of them, or they could not be read or kept.
  const std::optional<std::string>& failure() const { return failure_; }

  // Compares a content, given in pieces, with the notes from their start.
  class comparison {
   public:
    explicit comparison(source_notes& notes);
    void add(std::span<const unsigned char> content);
    // After the content's last piece: how it compares; nothing when the
    // notes failed to be read again whole (failure() says why).
    std::optional<source_match> finish();

   private:
    source_notes& notes_;
    std::span<const unsigned char> pending_;  // of the notes, not yet compared
    source_match match_;
  };

 private:
  void fail(const std::string& reason);

  std::optional<input_reader> input_;
  std::optional<replayed_input> kept_;
  std::optional<std::string> failure_;
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_CHECKER_SOURCE_NOTES_H_
