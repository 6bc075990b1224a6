#include "app/ProgressText.h"

#include <QTime>
#include <algorithm>

namespace sigilon {

namespace {

/// "m:ss", or "h:mm:ss" from an hour on; a day or more shows as a day less a second.
std::string TimeLeftText(std::int64_t milliseconds) {
  const std::int64_t seconds = (milliseconds + 999) / 1000;
  const QTime time = QTime(0, 0).addSecs(static_cast<int>(std::min<std::int64_t>(seconds, 86399)));
  return time.toString(seconds >= 3600 ? QStringLiteral("h:mm:ss") : QStringLiteral("m:ss"))
      .toStdString();
}

}  // namespace

std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMilliseconds) {
  std::string text = std::to_string(done) + " / " + std::to_string(total);
  // A guess from the first file or two would jump about; from a few files
  // and a second or so on it settles.
  if (done >= kFilesBeforeTimeLeft && done < total &&
      elapsedMilliseconds >= kMillisecondsBeforeTimeLeft) {
    text += ", " + TimeLeftText(elapsedMilliseconds * (total - done) / done) + " left";
  }
  return text;
}

}  // namespace sigilon
