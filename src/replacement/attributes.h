#ifndef UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
#define UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_

#include "io/file_handle.h"

namespace upgrade_info {

enum class access_kept {
  yes,
  refused,  // the system refuses this user some of it: `to` must not
            // replace `from`, which would grant or take away someone's
            // access
  failed,
};

// Gives the new file `to`, whose contents are complete, what of the
// existing file `from` decides who may reach it: owner and group,
// permissions with the set-user and set-group bits, extended attributes
// and access lists. (On Windows, where a new file's security descriptor
// comes from its folder, it gives the attributes and compares the
// descriptors.)
access_kept keep_access(const file_handle& from, file_handle& to);

#ifndef _WIN32
// Gives the new file `to`, made with the permissions 0600 only its user
// has, those that making a file with 0666 gives where no default access
// list of its directory decides: 0666 less the umask.
access_kept give_new_file_access(file_handle& to);
#endif

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
