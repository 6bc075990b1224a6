#pragma once
/// What the running process finds around it: the directory it was started
/// in, the user it runs for, that user's home, the directory of its own
/// program file, and the processors it may use. Each answer comes from the
/// system, never from environment variables another program could set.

#include <optional>
#include <string>

namespace sigilon {

/// The working directory as it stood when the program started, followed by
/// one "/" (appended whatever the text ends with: started in "/" gives "//").
/// Recorded during static initialisation, before any other code runs.
std::string StartDirectory();

/// Replaces the recorded start directory. Only tests call this, to keep the
/// configuration file in a directory of their own.
void SetStartDirectoryForTesting(const std::string& directory);

/// The log-on name of the effective user, asked of the user database at every
/// call; the empty text when the system has no name for the user.
std::string CurrentUserName();

/// The effective user's home directory as the user database gives it,
/// followed by "/"; empty when the system has no entry for the user.
std::string HomeDirectory();

/// The directory of the running program's file (links resolved), followed by
/// "/"; empty when the system cannot say.
std::string ProgramDirectory();
/// Replaces what ProgramDirectory reports (nothing: the real one again). Only
/// tests call this, so that files beside the test programs do not count.
void SetProgramDirectoryForTesting(const std::optional<std::string>& directory);

/// Processors online now (at least 1).
int OnlineProcessors();

}  // namespace sigilon
