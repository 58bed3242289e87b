// What decides who may reach a file on Linux: its owner and group, its
// permission bits and its extended attributes, the POSIX access ACL among
// them.

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "replacement/attributes.h"

namespace upgrade_info {

namespace {

std::vector<std::string> attribute_names(int file) {
  const ssize_t size = flistxattr(file, nullptr, 0);
  std::vector<char> list(size > 0 ? static_cast<std::size_t>(size) : 0);
  const ssize_t listed =
      list.empty() ? 0 : flistxattr(file, list.data(), list.size());
  std::vector<std::string> names;
  for (std::size_t at = 0;
       listed > 0 && at < static_cast<std::size_t>(listed);) {
    names.emplace_back(list.data() + at);
    at += names.back().size() + 1;
  }
  return names;
}

// The new file's own attributes (a default ACL's access ACL, for one) go
// where the existing file has none.
bool copy_extended_attributes(int from, int to) {
  const std::vector<std::string> kept = attribute_names(from);
  for (const std::string& name : attribute_names(to)) {
    if (std::find(kept.begin(), kept.end(), name) == kept.end() &&
        fremovexattr(to, name.c_str()) != 0) {
      return false;
    }
  }
  for (const std::string& name : kept) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size < 0 ||
        fgetxattr(from, name.c_str(), value.data(), value.size()) != size ||
        fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The owner and group first: changing them clears the set-user and
// set-group bits, which the permissions then give back.
bool keep_attributes(const file_handle& from, file_handle& to) {
  struct stat status {};
  return fstat(from.get(), &status) == 0 &&
         fchown(to.get(), status.st_uid, status.st_gid) == 0 &&
         fchmod(to.get(), status.st_mode & 07777) == 0 &&
         copy_extended_attributes(from.get(), to.get());
}

}  // namespace upgrade_info
