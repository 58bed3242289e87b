#include "termination_cleanup.h"

#include <atomic>
#include <csignal>

namespace upgrade_info {

namespace {

std::atomic<void (*)()> pending_cleanup{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

extern "C" void clean_up_then_end(int signal) {
  if (void (*cleanup)() = pending_cleanup.exchange(nullptr)) {
    cleanup();
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void handle(int signal) {
  if (std::signal(signal, clean_up_then_end) == SIG_IGN) {
    std::signal(signal, SIG_IGN);
  }
}

// Every signal whose default action ends the process and that a handler
// can catch, but SIGXFSZ, which the tool ignores to see a failed write.
void handle_terminating_signals() {
#ifdef _WIN32
  for (const int signal : {SIGINT, SIGTERM, SIGBREAK, SIGABRT}) {
    handle(signal);
  }
#else
  for (const int signal :
       {SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
        SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
        SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS}) {
    handle(signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    handle(signal);
  }
#endif
}

}  // namespace

void set_termination_cleanup(void (*cleanup)()) {
  static const bool handled = (handle_terminating_signals(), true);
  (void)handled;
  pending_cleanup = cleanup;
}

void clear_termination_cleanup() { pending_cleanup = nullptr; }

}  // namespace upgrade_info
