#ifndef UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_
#define UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_

// The new contents of a destination, in a temporary file beside it that
// takes its place only once they are complete. The temporary is reached
// through its own handle from its making to its commit, never reopened by
// name.

#include "replacement/destination.h"
#include "replacement/file_handle.h"
#include "replacement/termination.h"

namespace upgrade_info {

enum class temporary_outcome {
  made,
  in_place,  // none can replace the destination: its directory takes no
             // new file or keeps every name, or the temporary cannot be
             // given the owner, group and attributes the file has
  failed,    // no room for one, or another error
};
// A new, empty file beside the destination, readable and writable, with
// the destination's owner, group, permissions and attributes, or those
// that making the destination would give.
file_handle create_temporary(destination& target, temporary_outcome& outcome);

enum class commit_outcome {
  replaced,
  in_place,  // no rename reaches the destination: the caller writes the
             // temporary's contents over it
  refused,   // a destination made only now may not be written
  failed,    // the destination is as it was
};
// Puts `temporary`, which holds the whole new contents, in the
// destination's place, with every signal `held`. Whatever the outcome, the
// temporary has no name left.
commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held& held);

// Takes back whatever name the temporary has.
void discard_temporary(destination& target);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_
