#include "platform/Signals.h"

#include <atomic>
#include <csignal>

namespace sigilon {

namespace {
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

extern "C" void OnStopSignal(int) { stopRequested.store(true); }
}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes go on; the second signal acts as usual.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return stopRequested.load(); }

}  // namespace sigilon
