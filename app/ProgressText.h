#pragma once
/// The run's progress as the status bar shows it: files done of the total
/// and, once a guess has settled, the time left.

#include <cstdint>
#include <string>

namespace sigilon {

/// The time left is shown once this many files and milliseconds have passed.
inline constexpr int kFilesBeforeTimeLeft = 3;
inline constexpr int kMillisecondsBeforeTimeLeft = 1000;

/// "done / total", with ", m:ss left" (from an hour on "h:mm:ss") when the
/// guess from the time so far has settled and files remain.
std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMilliseconds);

}  // namespace sigilon
