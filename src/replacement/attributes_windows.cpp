// What decides who may reach a file on Windows: its security descriptor
// (owner, group, access list and integrity label), and the attributes that
// belong to the file rather than to its contents (hidden, system); and
// what else a file carries that a new one would not.

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <winternl.h>

#include <cstring>

#include "replacement/attributes.h"

namespace upgrade_info {

namespace {

bool keep_basic_attributes(const file_handle& from, file_handle& to) {
  constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(from.get(), FileBasicInfo, &basic,
                                   sizeof basic) == 0) {
    return false;
  }
  FILE_BASIC_INFO given{};
  given.CreationTime = basic.CreationTime;
  given.FileAttributes = basic.FileAttributes & KEPT;
  if (given.FileAttributes == 0) {
    given.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  return SetFileInformationByHandle(to.get(), FileBasicInfo, &given,
                                    sizeof given) != 0;
}

// A file's owner, group and access list.
class security {
 public:
  explicit security(const file_handle& file) {
    read_ =
        GetSecurityInfo(
            file.get(), SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
            &owner_, &group_, &access_, &label_, &descriptor_) == ERROR_SUCCESS;
  }
  ~security() { LocalFree(descriptor_); }
  security(const security&) = delete;
  security& operator=(const security&) = delete;

  bool operator==(const security& other) const {
    return read_ && other.read_ && EqualSid(owner_, other.owner_) != 0 &&
           EqualSid(group_, other.group_) != 0 &&
           same_entries(access_, other.access_) &&
           same_entries(label_, other.label_);
  }

 private:
  // The same entries in the same order, each with its flags: the new
  // file's inherited ones come from the directory that gave the old file
  // its own.
  static bool same_entries(PACL one, PACL other) {
    if (one == nullptr || other == nullptr) {
      return one == other;
    }
    if (one->AceCount != other->AceCount) {
      return false;
    }
    for (DWORD i = 0; i < one->AceCount; ++i) {
      void* a = nullptr;
      void* b = nullptr;
      if (GetAce(one, i, &a) == 0 || GetAce(other, i, &b) == 0) {
        return false;
      }
      const auto size = static_cast<const ACE_HEADER*>(a)->AceSize;
      if (size != static_cast<const ACE_HEADER*>(b)->AceSize ||
          std::memcmp(a, b, size) != 0) {
        return false;
      }
    }
    return true;
  }

  bool read_ = false;
  PSID owner_ = nullptr;
  PSID group_ = nullptr;
  PACL access_ = nullptr;
  PACL label_ = nullptr;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Whether the file carries what a new file beside it would not have:
// data in other streams (as Zone.Identifier), extended attributes, its
// contents encrypted (EFS). A file system that keeps no streams says so.
bool carries_more(const file_handle& file) {
  FILE_BASIC_INFO basic{};
  alignas(FILE_STREAM_INFO) unsigned char streams[1024];
  if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic,
                                   sizeof basic) == 0 ||
      (basic.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0) {
    return true;
  }
  if (GetFileInformationByHandleEx(file.get(), FileStreamInfo, streams,
                                   sizeof streams) != 0) {
    if (reinterpret_cast<const FILE_STREAM_INFO*>(streams)->NextEntryOffset !=
        0) {
      return true;
    }
  } else if (const DWORD error = GetLastError();
             error != ERROR_HANDLE_EOF && error != ERROR_INVALID_PARAMETER &&
             error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
    return true;
  }
  IO_STATUS_BLOCK status{};
  FILE_EA_INFORMATION attributes{};
  return NtQueryInformationFile(file.get(), &status, &attributes,
                                sizeof attributes, FileEaInformation) >= 0 &&
         attributes.EaSize != 0;
}

}  // namespace

// Windows takes nothing of a file's access at a write.
cleared_by_writing::cleared_by_writing(const file_handle&) {}
bool cleared_by_writing::give_back(const file_handle&) const { return true; }

// The security descriptor is compared rather than copied: copying one
// whose access list inherits from the directory would merge that list with
// the directory's again, and one of another owner cannot be given. Where
// the new file's differs, or the old one carries more than a new one
// would, it does not replace the old one.
access_kept keep_access(const file_handle& from, file_handle& to) {
  if (!keep_basic_attributes(from, to)) {
    return access_kept::failed;
  }
  return security(from) == security(to) && !carries_more(from)
             ? access_kept::yes
             : access_kept::refused;
}

}  // namespace upgrade_info
