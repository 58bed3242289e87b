// What decides who may reach a file on Linux: its owner and group, its
// permission bits and its extended attributes, the POSIX access ACL and
// file capabilities among them. They are given once the contents are
// complete, and in this order: a write, and a change of owner, clear the
// set-user and set-group bits and the capabilities.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "replacement/attributes.h"
#include "replacement/destination_linux.h"

namespace upgrade_info {

namespace {

constexpr const char* CAPABILITY = "security.capability";

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
  return given                        ? access_kept::yes
         : refuses_replacement(errno) ? access_kept::refused
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

cleared_by_writing::cleared_by_writing(const file_handle& file) {
  struct stat status {};
  mode_ = fstat(file.get(), &status) == 0 ? status.st_mode & 07777 : 0;
  capability_ = attribute(file.get(), CAPABILITY).value_or(std::vector<char>());
}

void cleared_by_writing::give_back(const file_handle& file) const {
  if ((mode_ & (S_ISUID | S_ISGID)) != 0) {
    fchmod(file.get(), mode_);
  }
  if (!capability_.empty()) {
    fsetxattr(file.get(), CAPABILITY, capability_.data(), capability_.size(),
              0);
  }
}

// A file made in a directory with a default ACL takes that ACL as its
// access ACL, its owner, group class and other entries limited by the
// permissions asked for (0666), and no umask applies; as the system stores
// ACLs, a version of 4 bytes, then entries of 8, each a tag and
// permissions of 2 bytes, little-endian, and an ID of 4.
access_kept give_new_file_access(const file_handle& directory,
                                 file_handle& to) {
  constexpr unsigned USER_OBJ = 0x01, GROUP_OBJ = 0x04, MASK = 0x10,
                     OTHER = 0x20;
  const file_handle readable(
      openat(directory.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<char> acl =
      readable ? attribute(readable.get(), "system.posix_acl_default")
                     .value_or(std::vector<char>())
               : std::vector<char>();
  if (acl.empty()) {
    const mode_t mask = umask(0);
    umask(mask);
    return outcome(fchmod(to.get(), 0666 & ~mask) == 0);
  }
  const auto tag_of = [&](std::size_t entry) {
    return static_cast<unsigned>(static_cast<unsigned char>(acl[entry]) |
                                 static_cast<unsigned char>(acl[entry + 1])
                                     << 8);
  };
  bool has_mask = false;
  for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
    has_mask = has_mask || tag_of(entry) == MASK;
  }
  for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
    const unsigned tag = tag_of(entry);
    if (tag == USER_OBJ || tag == MASK || tag == OTHER ||
        (tag == GROUP_OBJ && !has_mask)) {
      acl[entry + 2] = static_cast<char>(acl[entry + 2] & 6);
    }
  }
  return outcome(fsetxattr(to.get(), "system.posix_acl_access", acl.data(),
                           acl.size(), 0) == 0);
}

}  // namespace upgrade_info
