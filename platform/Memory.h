#pragma once
/// Memory for whole pictures, backed by huge pages where the system offers
/// them.

#include <cstddef>

namespace sigilon {

/// Memory for a whole picture. Blocks of several megabytes are backed by huge
/// pages where the system offers them: a 12-megapixel photo otherwise costs
/// some ten thousand page faults each time its pixels are touched afresh.
/// Throws std::bad_alloc. Free with FreeLargeBlock and the same size.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

}  // namespace sigilon
