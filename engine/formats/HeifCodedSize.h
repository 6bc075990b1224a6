#pragma once
/// The frame sizes that a HEIF picture's coded stream declares, read with
/// bounds checks from its codec configuration and its data before any
/// decoder sees them: an HEVC stream's sequence parameter sets, an AV1
/// stream's sequence headers. A decoder allocates frames of these sizes,
/// whatever the picture's size box says.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace sigilon {

/// A frame size in luma samples, before any cropping.
struct TCodedSize {
  std::uint64_t Width = 0;
  std::uint64_t Height = 0;
};

/// A coded frame is larger than its picture by what the stream crops: at
/// most one coding tree block, 64 pixels, each way.
inline constexpr std::uint64_t kMaxCroppedPixels = 64;

/// Whether `frame` is `width` x `height`, or larger by what a stream crops.
inline bool CropsTo(const TCodedSize& frame, std::uint64_t width, std::uint64_t height) {
  return frame.Width >= width && frame.Height >= height &&
         frame.Width - width <= kMaxCroppedPixels && frame.Height - height <= kMaxCroppedPixels;
}

/// Calls `visit` with the picture size of every base-layer sequence
/// parameter set in `config` (the body of an 'hvcC' property) and in `data`
/// (the item's NAL units, each behind a length of the size `config` gives).
/// Throws ImageError, naming `what`, when either cannot be walked or a
/// parameter set is cut short.
void ForEachHevcFrameSize(std::span<const std::byte> config, std::span<const std::byte> data,
                          const std::string& what,
                          const std::function<void(const TCodedSize&)>& visit);

/// Calls `visit` with the largest frame size of every sequence header in
/// `config` (the body of an 'av1C' property) and in `data` (the item's
/// OBUs). Throws ImageError, naming `what`, when either cannot be walked or
/// a sequence header is cut short.
void ForEachAv1FrameSize(std::span<const std::byte> config, std::span<const std::byte> data,
                         const std::string& what,
                         const std::function<void(const TCodedSize&)>& visit);

}  // namespace sigilon
