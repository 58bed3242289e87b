// What decides who may reach a file on Linux: its owner and group, its
// permission bits and its extended attributes, the POSIX access ACL and
// file capabilities among them. They are given once the contents are
// complete, and in this order: a write, and a change of owner, clear the
// set-user and set-group bits and the capabilities.

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
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

// The value of the attribute `name`; nothing where there is none.
std::optional<std::vector<char>> attribute(int file, const char* name) {
  const ssize_t size = fgetxattr(file, name, nullptr, 0);
  std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
  if (size < 0 || fgetxattr(file, name, value.data(), value.size()) != size) {
    return std::nullopt;
  }
  return value;
}

// The new file's own attributes (an access ACL from the directory's
// default one, for one) go where the existing file has none.
bool copy_extended_attributes(int from, int to) {
  const std::vector<std::string> kept = attribute_names(from);
  for (const std::string& name : attribute_names(to)) {
    if (std::find(kept.begin(), kept.end(), name) == kept.end() &&
        fremovexattr(to, name.c_str()) != 0) {
      return false;
    }
  }
  for (const std::string& name : kept) {
    const std::optional<std::vector<char>> value =
        attribute(from, name.c_str());
    if (!value ||
        fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

access_kept outcome(bool given) {
  return given                               ? access_kept::yes
         : errno == EPERM || errno == EACCES ? access_kept::refused
                                             : access_kept::failed;
}

}  // namespace

access_kept keep_access(const file_handle& from, file_handle& to) {
  struct stat status {};
  return outcome(fstat(from.get(), &status) == 0 &&
                 fchown(to.get(), status.st_uid, status.st_gid) == 0 &&
                 copy_extended_attributes(from.get(), to.get()) &&
                 fchmod(to.get(), status.st_mode & 07777) == 0);
}

access_kept give_new_file_access(file_handle& to) {
  const mode_t mask = umask(0);
  umask(mask);
  return outcome(fchmod(to.get(), 0666 & ~mask) == 0);
}

}  // namespace upgrade_info
