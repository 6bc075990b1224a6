#pragma once
// The message of the exception a call throws, so that a test can check what a
// failure says in one line.

#include <string>

namespace sigilon::test {

/// What the `Error` thrown by `call` says, or "(nothing thrown)", which no
/// check on a real message matches. Other exceptions pass through.
template <class Error, class Call>
std::string ThrownMessage(Call&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

/// Whether `text` contains `part`.
inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace sigilon::test
