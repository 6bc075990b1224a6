#include "platform/ProcessEnvironment.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/PathText.h"

namespace sigilon {

namespace {

std::string ReadWorkingDirectory() {
  // No fixed buffer: a deep working directory must not be cut short.
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

/// The start directory, kept in a function-level static so that code running
/// during another module's static initialisation still sees the right text.
std::string& StartDirectoryText() {
  // An unreadable working directory (deleted under us) leaves "/" alone.
  static std::string text = ReadWorkingDirectory() + "/";
  return text;
}

// Records the start directory before main() runs.
[[maybe_unused]] const bool kStartDirectoryRecorded = (StartDirectoryText(), true);

// One field of the effective user's entry in the user database; empty when
// the system has no entry for the user.
template <typename Field>
std::string UserDatabaseField(Field field) {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || found->*field == nullptr) return std::string();
    return std::string(found->*field);
  }
}

std::optional<std::string>& ProgramDirectoryOverride() {
  static std::optional<std::string> directory;
  return directory;
}

}  // namespace

std::string StartDirectory() { return StartDirectoryText(); }

void SetStartDirectoryForTesting(const std::string& directory) { StartDirectoryText() = directory; }

std::string CurrentUserName() { return UserDatabaseField(&passwd::pw_name); }

std::string HomeDirectory() { return WithTrailingSlash(UserDatabaseField(&passwd::pw_dir)); }

void SetProgramDirectoryForTesting(const std::optional<std::string>& directory) {
  ProgramDirectoryOverride() = directory;
}

std::string ProgramDirectory() {
  if (ProgramDirectoryOverride()) return *ProgramDirectoryOverride();
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

int OnlineProcessors() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1 : static_cast<int>(std::min<long>(count, INT_MAX));
}

}  // namespace sigilon
