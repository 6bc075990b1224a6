#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <limits>
#include <new>

namespace sigilon {

namespace {
// Below this a block is ordinary heap memory; above it, whole huge pages.
constexpr std::size_t kLargeBlockThreshold = std::size_t{4} << 20;
constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

std::size_t RoundedToHugePages(std::size_t bytes) {
  return (bytes + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
}
}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  if (bytes < kLargeBlockThreshold) return ::operator new(bytes);
  if (bytes > std::numeric_limits<std::size_t>::max() - kHugePageSize) throw std::bad_alloc();
  const std::size_t rounded = RoundedToHugePages(bytes);
  void* block = std::aligned_alloc(kHugePageSize, rounded);
  if (block == nullptr) throw std::bad_alloc();
  // Only advice: where huge pages are off or scarce, ordinary pages serve.
  ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept {
  if (bytes < kLargeBlockThreshold) {
    ::operator delete(block);
  } else {
    std::free(block);
  }
}

}  // namespace sigilon
