#pragma once
/// Upper-casing of the letters a to z only, as file names and paths are
/// compared whatever their letter case.

#include <string>

namespace sigilon {

inline std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace sigilon
