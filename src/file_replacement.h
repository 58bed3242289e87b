#ifndef UPGRADE_INFO_FILE_REPLACEMENT_H_
#define UPGRADE_INFO_FILE_REPLACEMENT_H_

// What replacing a file through a temporary file needs from the operating
// system. Each platform implements it in a file of its own.

#include <cstdio>
#include <string>

namespace upgrade_info::file_replacement {

// Makes exceeding the file-size limit a failed write rather than a signal
// that ends the process, so that it is reported and cleaned up.
void treat_file_size_limit_as_write_error();

// The path of the file that `path` finally names, after any symbolic links,
// so that replacing it keeps the links. Returns `path` as it is when there is
// nothing to follow or the links cannot be read.
std::string final_target(const std::string& path);

enum class destination {
  missing,        // nothing there yet
  writable_file,  // a regular file this process may write
  other,          // anything else: written directly, or refused when opened
};
destination inspect(const std::string& path);

// Creates the new file `path` exclusively (nullptr with errno EEXIST when it
// exists), with the permissions that opening it with "wb" would give, or
// with those (and the owner, where allowed) of `existing` when not empty.
// Until it is replaced or removed below, the file is removed should the
// process be interrupted, terminated or hung up on.
std::FILE* create_temporary(const std::string& path,
                            const std::string& existing);

enum class replacement {
  done,
  cannot_rename,  // `destination` lies where a rename cannot reach it
  failed,
};
// Renames the temporary file over `destination` in one step.
replacement replace_with_temporary(const std::string& temporary,
                                   const std::string& destination);

void remove_temporary(const std::string& temporary);

}  // namespace upgrade_info::file_replacement

#endif  // UPGRADE_INFO_FILE_REPLACEMENT_H_
