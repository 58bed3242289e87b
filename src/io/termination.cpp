#include "io/termination.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace upgrade_info {

namespace {

std::atomic<void (*)()> pending_cleanup{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

// Whether the run's work is done, whatever signal arrives.
std::atomic<bool> held_for_good{false};

#ifdef _WIN32
// Windows runs a console's Ctrl-C in a thread of its own, which says that
// it came, then waits here while the signals are held, and is done at once
// when the run's work is: no thread waits while the process ends.
SRWLOCK held_lock = SRWLOCK_INIT;
std::atomic<bool> ctrl_c_came{false};
#endif

extern "C" void clean_up_then_end(int signal) {
#ifdef _WIN32
  ctrl_c_came = true;
  while (!TryAcquireSRWLockExclusive(&held_lock)) {
    if (held_for_good) {
      std::signal(signal, clean_up_then_end);
      return;
    }
    Sleep(1);
  }
#endif
  if (void (*cleanup)() = pending_cleanup.exchange(nullptr)) {
    cleanup();
  }
#ifdef _WIN32
  // As a console program that Ctrl-C ends, not the runtime's status 3.
  if (signal == SIGINT || signal == SIGBREAK) {
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
#endif
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

#ifndef _WIN32
// Those a handler took, not those the process was started ignoring.
sigset_t handled_signals;
#endif

void handle(int signal) {
  if (std::signal(signal, clean_up_then_end) == SIG_IGN) {
    std::signal(signal, SIG_IGN);
    return;
  }
#ifndef _WIN32
  sigaddset(&handled_signals, signal);
#endif
}

#ifdef _WIN32
constexpr int TERMINATING_SIGNALS[] = {SIGINT, SIGTERM, SIGBREAK, SIGABRT};
#else
// Every signal whose default action ends the process and that a handler
// can catch, but SIGXFSZ, which the tool ignores to see a failed write.
constexpr int TERMINATING_SIGNALS[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS};
#endif

void handle_terminating_signals() {
  for (const int signal : TERMINATING_SIGNALS) {
    handle(signal);
  }
#ifndef _WIN32
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    handle(signal);
  }
#endif
}

// How many termination_held live.
int held_depth = 0;
#ifndef _WIN32
sigset_t mask_before_held;
#endif

}  // namespace

void take_terminating_signals() {
  static const bool handled = (handle_terminating_signals(), true);
  (void)handled;
}

void set_termination_cleanup(void (*cleanup)()) {
  take_terminating_signals();
  pending_cleanup = cleanup;
}

void clear_termination_cleanup() { pending_cleanup = nullptr; }

termination_held::termination_held() {
  take_terminating_signals();
  if (held_depth++ > 0) {
    return;
  }
#ifdef _WIN32
  AcquireSRWLockExclusive(&held_lock);
#else
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &mask_before_held);
#endif
}

termination_held::~termination_held() {
  if (--held_depth > 0 || held_for_good) {
    return;
  }
#ifdef _WIN32
  ReleaseSRWLockExclusive(&held_lock);
#else
  sigprocmask(SIG_SETMASK, &mask_before_held, nullptr);
#endif
}

void termination_held::keep() { held_for_good = true; }

#ifdef _WIN32

bool termination_held::pending() const { return ctrl_c_came; }

#else

bool termination_held::pending() const {
  sigset_t waiting;
  return sigpending(&waiting) == 0 &&
         sigandset(&waiting, &waiting, &handled_signals) == 0 &&
         sigisemptyset(&waiting) == 0;
}

#endif

}  // namespace upgrade_info
