#pragma once
/// Stopping by signal: the first SIGINT or SIGTERM asks the program to stop
/// at its next safe point instead of ending it mid-write.

namespace sigilon {

/// From now on the first SIGINT or SIGTERM only sets StopRequested(); a second
/// one has its usual effect, so a stuck program can still be stopped.
void CatchStopSignals();

/// True once a signal caught by CatchStopSignals has arrived.
bool StopRequested();

}  // namespace sigilon
