// The signals that end the program early (an interrupt from the terminal, a
// request to stop, a closed terminal). Its handler removes the temporary
// files being written; while one is created and entered for removal these
// signals are held back, or one arriving in between would leave it behind.
#pragma once

#include <signal.h>

namespace output_file {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

/// Holds the ending signals back for its lifetime; one that arrives
/// meanwhile is delivered when it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kEndingSignals) sigaddset(&held, sig);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld &) = delete;
  EndingSignalsHeld &operator=(const EndingSignalsHeld &) = delete;

 private:
  sigset_t before_;
};

}  // namespace output_file
