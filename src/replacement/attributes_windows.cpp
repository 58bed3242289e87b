// What decides who may reach a file on Windows: its security descriptor
// (owner, group and access list), and the attributes that belong to the
// file rather than to its contents (hidden, system).

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

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

bool keep_security(const file_handle& from, file_handle& to) {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION WHAT = OWNER_SECURITY_INFORMATION |
                                        GROUP_SECURITY_INFORMATION |
                                        DACL_SECURITY_INFORMATION;
  if (GetSecurityInfo(from.get(), SE_FILE_OBJECT, WHAT, &owner, &group, &access,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  // An access list of its own stays so; one inherited from the directory
  // is inherited by the new file alike.
  const bool own_list =
      GetSecurityDescriptorControl(descriptor, &control, &revision) != 0 &&
      (control & SE_DACL_PROTECTED) != 0;
  const bool kept =
      SetSecurityInfo(to.get(), SE_FILE_OBJECT,
                      WHAT | (own_list ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION),
                      owner, group, access, nullptr) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return kept;
}

}  // namespace

bool keep_attributes(const file_handle& from, file_handle& to) {
  return keep_basic_attributes(from, to) && keep_security(from, to);
}

}  // namespace upgrade_info
