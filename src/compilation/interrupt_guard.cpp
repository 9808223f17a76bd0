#include "compilation/interrupt_guard.hpp"

#include <csignal>
#include <string>

namespace quorvex::compiler {

namespace {

// The one thing a signal handler may safely touch.
volatile std::sig_atomic_t pendingSignal = 0;

extern "C" void noteSignal(int signal) { pendingSignal = signal; }

} // namespace

Interrupted::Interrupted(int signal)
    : std::runtime_error("Interrupted by signal " + std::to_string(signal)), signal(signal) {}

InterruptGuard::InterruptGuard() {
  pendingSignal = 0;
  previousInt_ = std::signal(SIGINT, noteSignal);
  previousTerm_ = std::signal(SIGTERM, noteSignal);
}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, previousInt_ == SIG_ERR ? SIG_DFL : previousInt_);
  std::signal(SIGTERM, previousTerm_ == SIG_ERR ? SIG_DFL : previousTerm_);
  int signal = pendingSignal;
  pendingSignal = 0;
  if (signal != 0) std::raise(signal);
}

void InterruptGuard::check() const {
  if (pendingSignal != 0) throw Interrupted(pendingSignal);
}

} // namespace quorvex::compiler
