#pragma once
// Shared by the fuzz targets: a property check that holds in every build
// (assert vanishes under NDEBUG) and the target entry point's signature.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace sigilon::fuzz {

[[noreturn]] inline void PropertyFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

inline std::span<const std::byte> Bytes(const std::uint8_t* data, std::size_t size) {
  return std::as_bytes(std::span(data, size));
}

}  // namespace sigilon::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::sigilon::fuzz::PropertyFailed(#condition, __FILE__, __LINE__))
