#pragma once
// Whole files as text, for tests that plant or compare file contents byte for
// byte.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sigilon::test {

/// The file's bytes; empty when it cannot be read.
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Replaces the whole file with `text`, creating missing parent directories.
inline void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace sigilon::test
