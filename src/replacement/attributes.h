#ifndef UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
#define UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_

#include "replacement/file_handle.h"

namespace upgrade_info {

// Gives the new file `to` what of the existing file `from` decides who may
// reach it: owner and group, permissions, extended attributes and access
// lists (on Windows: attributes and security descriptor). Returns false
// when any of them cannot be given, so that replacing `from` by `to` would
// grant or take away someone's access; `to` must then not replace it.
bool keep_attributes(const file_handle& from, file_handle& to);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_REPLACEMENT_ATTRIBUTES_H_
