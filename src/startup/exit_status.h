#ifndef UPGRADE_INFO_STARTUP_EXIT_STATUS_H_
#define UPGRADE_INFO_STARTUP_EXIT_STATUS_H_

namespace upgrade_info {

// Every failure ends the run with -1, which platforms that keep an 8-bit
// status (POSIX shells, for one) report as 255. Scripts depend on it.
inline constexpr int FAILURE_STATUS = -1;

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_STARTUP_EXIT_STATUS_H_
