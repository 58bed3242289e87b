#ifndef UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_
#define UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_

// The new contents of a destination, in a temporary file beside it that
// takes its place only once they are complete. The temporary is reached
// through its own handle from its making to its commit, never reopened by
// name, and only the user may reach it until the commit gives it the
// destination's access.

#include "io/file_handle.h"
#include "io/termination.h"
#include "replacement/destination.h"

namespace upgrade_info {

enum class temporary_outcome {
  made,
  in_place,  // the system refuses a new file there: the destination, if
             // there is one, is written in place
  failed,    // no room for one, or another error
};
// A new, empty file beside the destination, readable and writable.
file_handle create_temporary(destination& target, temporary_outcome& outcome);

enum class commit_outcome {
  replaced,
  in_place,  // the system refuses to replace the file the name reaches, or
             // to give the temporary its access: the caller writes the
             // temporary's contents over it
  failed,    // the destination is as it was
};
// Puts `temporary`, which holds the whole new contents, in the
// destination's place, with the access of the file it replaces (or of a
// new file), with every signal `held`. Whatever the outcome, the temporary
// has no name left.
commit_outcome commit_temporary(destination& target, file_handle& temporary,
                                termination_held& held);

// Takes back whatever name the temporary has.
void discard_temporary(destination& target);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_TEMPORARY_H_
