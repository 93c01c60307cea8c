#include "Interruption.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>

namespace {
int Descriptor = -1;

sigset_t Interruptions() {
  sigset_t Set;
  sigemptyset(&Set);
  sigaddset(&Set, SIGTERM);
  sigaddset(&Set, SIGHUP);
  sigaddset(&Set, SIGINT);
  return Set;
}
}  // namespace

void HoldBackInterruptions() {
  const sigset_t Set = Interruptions();
  ::sigprocmask(SIG_BLOCK, &Set, nullptr);
  Descriptor = ::signalfd(-1, &Set, SFD_CLOEXEC | SFD_NONBLOCK);
}

int InterruptionDescriptor() { return Descriptor; }

void ThrowIfInterrupted() {
  if (Descriptor < 0) return;
  signalfd_siginfo Info{};
  if (::read(Descriptor, &Info, sizeof(Info)) != static_cast<ssize_t>(sizeof(Info))) return;
  // Pending again, so that the descriptor stays readable for the other threads' waits.
  ::kill(::getpid(), static_cast<int>(Info.ssi_signo));
  throw TInterrupted{static_cast<int>(Info.ssi_signo)};
}

void EndBy(int Signal) {
  ::signal(Signal, SIG_DFL);
  sigset_t Set;
  sigemptyset(&Set);
  sigaddset(&Set, Signal);
  ::sigprocmask(SIG_UNBLOCK, &Set, nullptr);
  ::raise(Signal);
  std::_Exit(128 + Signal);
}

int RunInterruptibly(const std::function<int()>& Work) {
  // A reader of our output that has gone must not end this program before it has cleaned up.
  ::signal(SIGPIPE, SIG_IGN);
  HoldBackInterruptions();
  try {
    return Work();
  } catch (const TInterrupted& Interrupted) {
    EndBy(Interrupted.Signal);
  }
}
