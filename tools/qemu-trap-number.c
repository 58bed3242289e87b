/* Preloaded into the private 32-bit wine that runs under qemu-i386 (see
 * tools/wine32-runtime.bash). qemu-user delivers a fault's signal with the
 * trap number of its signal frame at -1; wine tells faults apart by that
 * number, so it would report an access violation as an illegal instruction
 * and a stack overflow not at all. This fills the number in from what the
 * signal itself says before wine's handler sees it, so that a crash under
 * test reads as the crash it is. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <sys/ucontext.h>

/* The x86 exception vectors that wine's handlers tell apart. */
enum {
  TRAP_DIVIDE_ERROR = 0,
  TRAP_OVERFLOW = 4,
  TRAP_INVALID_OPCODE = 6,
  TRAP_PAGE_FAULT = 14,
  TRAP_FLOATING_POINT_ERROR = 16,
};

typedef void (*fault_handler)(int, siginfo_t*, void*);
typedef int (*sigaction_function)(int, const struct sigaction*,
                                  struct sigaction*);

static fault_handler handlers[NSIG];

static int trap_number(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGILL:
      return TRAP_INVALID_OPCODE;
    case SIGFPE:
      return info->si_code == FPE_INTDIV   ? TRAP_DIVIDE_ERROR
             : info->si_code == FPE_INTOVF ? TRAP_OVERFLOW
                                           : TRAP_FLOATING_POINT_ERROR;
    default: /* SIGSEGV, SIGBUS */
      return TRAP_PAGE_FAULT;
  }
}

static void fill_trap_number(int signal, siginfo_t* info, void* context) {
  ucontext_t* frame = context;
  if (frame->uc_mcontext.gregs[REG_TRAPNO] == -1) {
    frame->uc_mcontext.gregs[REG_TRAPNO] = trap_number(signal, info);
  }
  handlers[signal](signal, info, context);
}

int sigaction(int signal, const struct sigaction* action,
              struct sigaction* previous) {
  static sigaction_function next;
  if (next == NULL) {
    next = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");
  }
  const int fault = signal == SIGSEGV || signal == SIGBUS || signal == SIGILL ||
                    signal == SIGFPE;
  if (action == NULL || !fault || (action->sa_flags & SA_SIGINFO) == 0) {
    return next(signal, action, previous);
  }
  struct sigaction wrapped = *action;
  handlers[signal] = action->sa_sigaction;
  wrapped.sa_sigaction = fill_trap_number;
  return next(signal, &wrapped, previous);
}
