#include "platform/FileTimes.h"

#include <sys/stat.h>

#include <ctime>

namespace sigilon {

std::optional<TCalendarDate> FileModificationDate(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  std::tm local{};
  const std::time_t time = info.st_mtime;
  if (::localtime_r(&time, &local) == nullptr) return std::nullopt;
  return TCalendarDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace sigilon
