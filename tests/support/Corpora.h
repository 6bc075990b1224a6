#pragma once
// What a test does when a public picture corpus is missing. Under continuous
// integration (the environment variable CI set, as CI services set it) every
// case must run, so a missing corpus is a failure; on a developer's machine
// without the corpora the case is skipped.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace sigilon::test {

/// True when CI is set to anything but the empty text, "0" or "false".
inline bool CorporaRequired() {
  const char* ci = std::getenv("CI");
  if (ci == nullptr) return false;
  const std::string_view value(ci);
  return !value.empty() && value != "0" && value != "false";
}

}  // namespace sigilon::test

/// Ends the current test, or the test helper it stands in, when `directory`
/// is not a directory: a failure when CorporaRequired(), else a skip.
#define SIGILON_REQUIRE_CORPUS(directory)                                                     \
  do {                                                                                        \
    const std::filesystem::path sigilonCorpus_(directory);                                    \
    if (!std::filesystem::is_directory(sigilonCorpus_)) {                                     \
      if (::sigilon::test::CorporaRequired()) {                                               \
        FAIL() << "no corpus at " << sigilonCorpus_ << ", and CI requires every corpus case"; \
      } else {                                                                                \
        GTEST_SKIP() << "no corpus at " << sigilonCorpus_;                                    \
      }                                                                                       \
    }                                                                                         \
  } while (false)
