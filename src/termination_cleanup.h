#ifndef UPGRADE_INFO_TERMINATION_CLEANUP_H_
#define UPGRADE_INFO_TERMINATION_CLEANUP_H_

namespace upgrade_info {

// Should a signal that ends the process arrive while `cleanup` is set, runs
// it, then lets the signal end the process as if no handler had been
// installed, so that the caller sees which signal it was. A signal that the
// process was started ignoring stays ignored (nohup). `cleanup` runs inside
// a signal handler, so it may call only what is safe there.
void set_termination_cleanup(void (*cleanup)());
void clear_termination_cleanup();

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_TERMINATION_CLEANUP_H_
