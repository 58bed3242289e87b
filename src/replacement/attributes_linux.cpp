// What decides who may reach a file on Linux: its owner and group, its
// permission bits and its extended attributes, the POSIX access ACL and
// file capabilities among them. They are given once the contents are
// complete, and in this order: a write, and a change of owner, clear the
// set-user and set-group bits and the capabilities.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// What a call of the extended attributes' family gives, asked for its size
// and then for its bytes, and asked again where they grew in between;
// nothing where the call fails (ENODATA for an attribute the file lacks).
template <typename Call>
std::optional<std::vector<char>> read_whole(Call call) {
  for (;;) {
    const ssize_t size = call(nullptr, 0);
    if (size < 0) {
      return std::nullopt;
    }
    std::vector<char> bytes(static_cast<std::size_t>(size));
    const ssize_t got = call(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<std::size_t>(got));
      return bytes;
    }
    if (errno != ERANGE) {
      return std::nullopt;
    }
  }
}

// A file system that keeps no extended attributes (FAT, exFAT) gives a
// file none: ENODATA for any one, an empty list.
std::optional<std::vector<char>> attribute(int file, const char* name) {
  std::optional<std::vector<char>> value =
      read_whole([&](char* bytes, std::size_t size) {
        return fgetxattr(file, name, bytes, size);
      });
  if (!value && errno == ENOTSUP) {
    errno = ENODATA;
  }
  return value;
}

std::optional<std::vector<std::string>> attribute_names(int file) {
  const std::optional<std::vector<char>> list =
      read_whole([&](char* bytes, std::size_t size) {
        return flistxattr(file, bytes, size);
      });
  if (!list) {
    return errno == ENOTSUP ? std::optional(std::vector<std::string>())
                            : std::nullopt;
  }
  std::vector<std::string> names;
  for (std::size_t at = 0; at < list->size();) {
    names.emplace_back(list->data() + at);
    at += names.back().size() + 1;
  }
  return names;
}

// The new file's own attributes (an access ACL from the directory's
// default one, for one) go where the existing file has none; one that
// goes from the existing file meanwhile is no more to give.
bool copy_extended_attributes(int from, int to) {
  const std::optional<std::vector<std::string>> kept = attribute_names(from);
  const std::optional<std::vector<std::string>> own = attribute_names(to);
  if (!kept || !own) {
    return false;
  }
  for (const std::string& name : *own) {
    if (std::find(kept->begin(), kept->end(), name) == kept->end() &&
        fremovexattr(to, name.c_str()) != 0) {
      return false;
    }
  }
  for (const std::string& name : *kept) {
    const std::optional<std::vector<char>> value =
        attribute(from, name.c_str());
    if (value
            ? fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0
            : errno != ENODATA) {
      return false;
    }
  }
  return true;
}

// Whether the process has `capability` in its effective set.
bool capable(unsigned capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[2] = {};
  return syscall(SYS_capget, &header, sets) == 0 &&
         (sets[capability / 32].effective >> (capability % 32) & 1) != 0;
}

bool in_group(gid_t group) {
  std::vector<gid_t> groups(static_cast<std::size_t>(getgroups(0, nullptr)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return group == getegid() ||
         (count >= 0 && std::find(groups.begin(), groups.begin() + count,
                                  group) != groups.begin() + count);
}

// Whether this process's write clears bits of the file: the set-user bit,
// and the set-group bit of a file its group may run or of a group the
// process is not in; neither with CAP_FSETID.
bool write_clears(const struct stat& status) {
  const bool set_group =
      (status.st_mode & S_ISGID) != 0 &&
      ((status.st_mode & S_IXGRP) != 0 || !in_group(status.st_gid));
  return ((status.st_mode & S_ISUID) != 0 || set_group) && !capable(CAP_FSETID);
}

// Whether the process may give a file back what a write clears: bits it
// `clears`, as the file's owner, the set-group bit only in the file's
// group; file capabilities only with CAP_SETFCAP.
bool may_give_back(const struct stat& status, bool clears,
                   bool has_capability) {
  const bool bits =
      !clears || ((status.st_uid == geteuid() || capable(CAP_FOWNER)) &&
                  ((status.st_mode & S_ISGID) == 0 || in_group(status.st_gid)));
  return bits && (!has_capability || capable(CAP_SETFCAP));
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
  const std::optional<std::vector<char>> capability =
      attribute(file.get(), CAPABILITY);
  const bool known =
      (capability || errno == ENODATA) && fstat(file.get(), &status) == 0;
  const bool clears = known && write_clears(status);
  noted_ = known && may_give_back(status, clears, capability.has_value());
  mode_ = clears ? status.st_mode & 07777 : 0;
  capability_ = capability.value_or(std::vector<char>());
}

bool cleared_by_writing::give_back(const file_handle& file) const {
  return (mode_ == 0 || fchmod(file.get(), mode_) == 0) &&
         (capability_.empty() ||
          fsetxattr(file.get(), CAPABILITY, capability_.data(),
                    capability_.size(), 0) == 0);
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
  std::optional<std::vector<char>> defaults =
      readable ? attribute(readable.get(), "system.posix_acl_default")
               : std::nullopt;
  if (readable && !defaults && errno != ENODATA) {
    return access_kept::failed;
  }
  std::vector<char> acl = defaults.value_or(std::vector<char>());
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
