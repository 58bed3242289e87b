#ifndef UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
#define UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_

#include <vector>

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

// What of its access the system takes from a file at a write (on Linux its
// set-user and set-group bits and file capabilities), noted before it is
// written in place and given back after.
class cleared_by_writing {
 public:
  explicit cleared_by_writing(const file_handle& file);
  // Whether it could be noted, and the user may give it back: as the
  // file's owner, in its group for the set-group bit, and only with the
  // system's leave for capabilities (on Linux, CAP_SETFCAP).
  explicit operator bool() const { return noted_; }
  // False where giving it back failed.
  bool give_back(const file_handle& file) const;

 private:
  bool noted_ = true;
  unsigned mode_ = 0;  // to give back, where the write clears bits of it
  std::vector<char> capability_;
};

#ifndef _WIN32
// Gives the new file `to`, made with the permissions 0600 only its user
// has, what making it in `directory` with the permissions 0666 would give:
// those less the umask, or the directory's default access list.
access_kept give_new_file_access(const file_handle& directory, file_handle& to);
#endif

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
