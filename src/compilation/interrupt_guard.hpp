#pragma once
// Holds back SIGINT and SIGTERM while the source tree is temporarily changed: a signal that
// arrives is only noted; the work checks for it, unwinds (restoring the tree), and the guard
// then delivers the signal again under its former disposition.

#include <stdexcept>

namespace quorvex::compiler {

/// Thrown by `InterruptGuard::check` once a held-back signal arrived.
class Interrupted : public std::runtime_error {
public:
  explicit Interrupted(int signal);
  int signal;
};

class InterruptGuard {
public:
  /// Installs the noting handler for SIGINT and SIGTERM.
  InterruptGuard();
  /// Puts the former handlers back, then raises a signal that arrived meanwhile.
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  /// Throws `Interrupted` when a signal arrived since the guard was made.
  void check() const;

private:
  using Handler = void (*)(int);
  Handler previousInt_;
  Handler previousTerm_;
};

} // namespace quorvex::compiler
