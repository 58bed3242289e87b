#ifndef UPGRADE_INFO_IO_TERMINATION_H_
#define UPGRADE_INFO_IO_TERMINATION_H_

// What a signal that ends the process (on Windows, Ctrl-C or Ctrl-Break)
// may do while an output is being put in place.

namespace upgrade_info {

// Takes such signals from now on, rather than from the first change of a
// file: on Windows, so that a Ctrl-C at any moment ends a run as Windows
// ends a console program (STATUS_CONTROL_C_EXIT), not as the runtime or
// wine would.
void take_terminating_signals();

// Should such a signal arrive while `cleanup` is set, runs it, then lets
// the signal end the process as if no handler had been installed, so that
// the caller sees which signal it was. A signal that the process was
// started ignoring stays ignored (nohup). `cleanup` runs inside a signal
// handler, so it may call only what is safe there.
void set_termination_cleanup(void (*cleanup)());
void clear_termination_cleanup();

// Holds back every such signal while it lives, so that none ends the
// process halfway through a change of names or an overwrite; one that
// arrived meanwhile takes effect when the outermost one goes, unless keep()
// said that the run's work is done, when none does.
class termination_held {
 public:
  termination_held();
  ~termination_held();
  termination_held(const termination_held&) = delete;
  termination_held& operator=(const termination_held&) = delete;

  // Whether a signal that ends the process is waiting: a change that is
  // still to be made is better not made.
  bool pending() const;
  // The output is in its place: the run ends as it succeeded, whatever
  // signal arrives from now on.
  void keep();
};

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_TERMINATION_H_
