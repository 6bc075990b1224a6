#pragma once
/// A picture read band by band, each band prepared (stamped), converted (the
/// first half of encoding) and used (written) before its memory is reused:
/// on one thread, or on two, where the reading thread converts bands for the
/// writing one whenever it would otherwise wait.

#include <functional>
#include <memory>

#include "engine/Bitmap.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// One band of rows on its way through the pipeline.
struct TBand {
  TBitmap Pixels;
  /// The picture row of its first row, and how many rows it holds.
  int Top = 0;
  int Rows = 0;
  /// The pixels half-encoded, where the writer splits its encoding.
  std::unique_ptr<TEncodedBand> Encoded{};
  /// With two threads: one of them has taken the conversion; it is done.
  bool Claimed = false;
  bool Converted = false;
};

/// What happens to each band read: `Prepare` on the reading thread, then
/// `Convert` on whichever thread is free, then `Use`, in picture order on a
/// second thread when there are two. Only `Use` is required.
struct TBandWork {
  std::function<void(TBand&)> Prepare{};
  /// False while preparing would wait for something made on another thread
  /// (the brand): the reading thread reads ahead meanwhile.
  std::function<bool()> CanPrepare{};
  std::function<void(TBand&)> Convert{};
  std::function<void(const TBand&)> Use{};
};

/// Reads the rest of the picture in bands of `bandRows` and puts each band
/// through `work`, with `twoThreads` the using on a second thread; then ends
/// the reading. Every thread is joined on every path; the first failure in
/// picture order is thrown.
void RunBands(TBandReader& reader, int bandRows, bool twoThreads, const TBandWork& work);

}  // namespace sigilon
