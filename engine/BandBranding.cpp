#include "engine/BandBranding.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/BrandStamp.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/JpegMetadata.h"
#include "engine/Orientation.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

// About this many pixel bytes per band: large enough that the per-band work
// (a few library calls, the stamp's row arithmetic) vanishes, small enough
// that a handful of bands of even a 100-megapixel picture cost little.
constexpr std::size_t kBandBytes = 1 << 20;
// The encoder takes rows in groups of 16 (two 8-row blocks of subsampled
// luminance); bands of whole groups keep it from waiting on partial ones.
constexpr int kRowGroup = 16;
// Bands in flight between the decoding and the encoding thread: enough to
// ride out the uneven pace of the two, not so many that memory grows.
constexpr int kBandsInFlight = 4;

// State shared by two threads: every change wakes whoever waits on it.
class TSharedState {
 protected:
  template <class Change>
  void Update(Change change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }
  // Waits until `ready` holds; the lock is held while the caller reads.
  template <class Ready>
  std::unique_lock<std::mutex> Await(Ready ready) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, ready);
    return lock;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// How many rows of a whole picture are decoded and stamped, published by the
// decoding thread to the encoding one.
class TRowProgress : TSharedState {
 public:
  void Publish(int rows) {
    Update([&] { ready_ = rows; });
  }
  void Stop() {
    Update([&] { stopped_ = true; });
  }
  // Waits for more than `have` rows; -1 once stopped.
  int WaitBeyond(int have) {
    const auto lock = Await([&] { return stopped_ || ready_ > have; });
    return stopped_ ? -1 : ready_;
  }

 private:
  int ready_ = 0;
  bool stopped_ = false;
};

int BandRows(int width, int height) {
  const std::size_t stride = 3 * static_cast<std::size_t>(width);
  const auto rows = static_cast<int>(std::max<std::size_t>(1, kBandBytes / stride));
  return std::min(std::max(kRowGroup, rows / kRowGroup * kRowGroup), height);
}

struct TBand {
  TBitmap Pixels;
  int Top = 0;  // the picture row of its first row
  int Rows = 0;
  TJpegBlocks Blocks{};  // the pixels turned into the encoder's blocks
  // With two threads: one of them has taken the conversion; it is done.
  bool Claimed = false;
  bool Converted = false;
};

// A fixed ring of bands handed from one producer thread to one consumer
// thread. Either side may stop the other (after a failure): waits then end.
class TBandRing : TSharedState {
 public:
  explicit TBandRing(std::vector<TBand> bands) : bands_(std::move(bands)) {}

  // The producer's next step: a band to fill or, while every band is full and
  // `help` is set, a filled one to convert for the consumer. Both are null
  // once stopped.
  struct TProducerStep {
    TBand* Fill = nullptr;
    TBand* Convert = nullptr;
  };
  TProducerStep NextForProducer(bool help) {
    const auto lock = Await([&] {
      return stopped_ || produced_ - consumed_ < bands_.size() || (help && NewestUnclaimed());
    });
    if (stopped_) return {};
    if (produced_ - consumed_ < bands_.size()) return {.Fill = &bands_[produced_ % bands_.size()]};
    TBand* band = NewestUnclaimed();
    band->Claimed = true;
    return {.Convert = band};
  }
  // Once every band is produced: a filled band left to convert, or null.
  TBand* ClaimLeftover() {
    TBand* band = nullptr;
    Update([&] {
      band = stopped_ ? nullptr : NewestUnclaimed();
      if (band) band->Claimed = true;
    });
    return band;
  }
  void Filled() {
    Update([&] {
      TBand& band = bands_[produced_ % bands_.size()];
      band.Claimed = band.Converted = false;
      ++produced_;
    });
  }
  enum class TClaim { Mine, Converted, Stopped };
  // The consumer's turn on the band: convert it, or use what the producer
  // converted, once that is done.
  TClaim Claim(TBand& band) {
    const auto lock = Await([&] { return stopped_ || !band.Claimed || band.Converted; });
    if (stopped_) return TClaim::Stopped;
    if (band.Claimed) return TClaim::Converted;
    band.Claimed = true;
    return TClaim::Mine;
  }
  void MarkConverted(TBand& band) {
    Update([&] { band.Converted = true; });
  }
  // The next filled band; nullptr once stopped or when the producer is done
  // and every band has been taken.
  TBand* NextFull() {
    const auto lock = Await([&] { return stopped_ || done_ || consumed_ < produced_; });
    if (stopped_ || consumed_ == produced_) return nullptr;
    return &bands_[consumed_ % bands_.size()];
  }
  void Emptied() {
    Update([&] { ++consumed_; });
  }
  void Done() {
    Update([&] { done_ = true; });
  }
  void Stop() {
    Update([&] { stopped_ = true; });
  }

 private:
  // The consumer takes bands oldest first, so the producer helps from the
  // other end; the oldest is left alone, the consumer being about to take it.
  TBand* NewestUnclaimed() {
    for (std::size_t i = produced_; i > consumed_ + 1; --i) {
      TBand& band = bands_[(i - 1) % bands_.size()];
      if (!band.Claimed) return &band;
    }
    return nullptr;
  }

  std::vector<TBand> bands_;
  std::size_t produced_ = 0;
  std::size_t consumed_ = 0;
  bool done_ = false;
  bool stopped_ = false;
};

// What happens to each decoded band: `Prepare` on the decoding thread (the
// stamping), then `Convert` (making the encoder's blocks) on whichever thread
// is free, then `Use` (encoding, or putting its rows upright), in picture
// order on a second thread when there are two.
struct TBandWork {
  std::function<void(TBand&)> Prepare{};
  // False while preparing would wait for something made on another thread
  // (the brand): the decoding thread decodes ahead meanwhile.
  std::function<bool()> CanPrepare{};
  std::function<void(TBand&)> Convert{};
  std::function<void(const TBand&)> Use{};
};

// Decodes the next band; false when the picture is complete.
bool Decode(TJpegBandDecoder& decoder, TBand& band) {
  if (decoder.NextRow() >= decoder.Height()) return false;
  band.Top = decoder.NextRow();
  band.Rows = decoder.ReadBand(band.Pixels);
  return true;
}

// Decodes the next band and prepares it; false when the picture is complete.
bool Produce(TJpegBandDecoder& decoder, const TBandWork& work, TBand& band) {
  if (!Decode(decoder, band)) return false;
  if (work.Prepare) work.Prepare(band);
  return true;
}

// Decodes the whole picture band by band, each band prepared, converted and
// used before the next; with `twoThreads` the using runs on a second thread.
void RunBands(TJpegBandDecoder& decoder, int bandRows, bool twoThreads, const TBandWork& work) {
  if (!twoThreads) {
    TBand band{decoder.NewBand(bandRows)};
    while (Produce(decoder, work, band)) {
      if (work.Convert) work.Convert(band);
      work.Use(band);
    }
    decoder.Finish();
    return;
  }
  std::vector<TBand> bands;
  for (int i = 0; i < kBandsInFlight; ++i) bands.push_back({decoder.NewBand(bandRows)});
  // The first bands, decoded while they cannot be prepared yet; they are
  // the first to be filled below.
  std::size_t decodedAhead = 0;
  while (work.CanPrepare && decodedAhead < bands.size() && !work.CanPrepare() &&
         Decode(decoder, bands[decodedAhead])) {
    ++decodedAhead;
  }
  TBandRing ring(std::move(bands));

  std::exception_ptr useFailure;
  std::thread using_([&] {
    try {
      while (TBand* band = ring.NextFull()) {
        if (work.Convert) {
          const TBandRing::TClaim claim = ring.Claim(*band);
          if (claim == TBandRing::TClaim::Stopped) return;
          if (claim == TBandRing::TClaim::Mine) work.Convert(*band);
        }
        work.Use(*band);
        ring.Emptied();
      }
    } catch (...) {
      useFailure = std::current_exception();
      ring.Stop();
    }
  });

  std::exception_ptr decodeFailure;
  try {
    const auto convert = [&](TBand& band) {
      work.Convert(band);
      ring.MarkConverted(band);
    };
    // While the consumer is behind, this thread converts for it instead of
    // waiting; nothing here waits for anything but a free band.
    bool complete = false;
    for (;;) {
      const TBandRing::TProducerStep step = ring.NextForProducer(work.Convert != nullptr);
      if (step.Convert) {
        convert(*step.Convert);
        continue;
      }
      if (!step.Fill) break;  // the other thread failed
      if (decodedAhead > 0) {
        --decodedAhead;
        if (work.Prepare) work.Prepare(*step.Fill);
      } else if (!Produce(decoder, work, *step.Fill)) {
        complete = true;
        break;
      }
      ring.Filled();
    }
    if (complete) {
      decoder.Finish();
      while (work.Convert) {
        TBand* band = ring.ClaimLeftover();
        if (!band) break;
        convert(*band);
      }
    }
  } catch (...) {
    decodeFailure = std::current_exception();
    ring.Stop();
  }
  ring.Done();
  using_.join();
  // The first failure in picture order is the one to report: a broken source
  // stops the other thread, not the other way round.
  if (decodeFailure) std::rethrow_exception(decodeFailure);
  if (useFailure) std::rethrow_exception(useFailure);
}

// The bytes from the start of the file to its first scan: every marker
// segment the metadata lives in, read without the picture data after them.
std::vector<std::byte> ReadHeaderBytes(TFileReader& reader) {
  std::vector<std::byte> bytes;
  const auto have = [&](std::size_t count) {
    while (bytes.size() < count) {
      std::byte chunk[4096];
      const std::size_t n = reader.Read(chunk);
      if (n == 0) return false;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return true;
  };
  const auto at = [&](std::size_t i) { return std::to_integer<unsigned>(bytes[i]); };
  std::size_t next = 2;  // after the start-of-image marker
  while (have(next + 4) && next < kMaxJpegFileBytes) {
    if (at(next) != 0xFF) break;
    const unsigned marker = at(next + 1);
    // The first scan ends the header; stand-alone markers carry no length.
    if (marker == 0xDA || marker == 0xD9) break;
    if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      next += marker == 0xFF ? 1 : 2;
      continue;
    }
    next += 2 + (at(next + 2) << 8 | at(next + 3));
  }
  return bytes;
}

// Keeps the whole stamped picture: to show it, or because it must be turned
// upright (each decoded band is put where it belongs as it comes). A picture
// to be shown is shown before a failure to save is reported. With two
// threads the encoder follows the stamping row by row instead of waiting for
// the whole picture, and is still finishing while the picture is shown.
void BrandWholePicture(TJpegBandDecoder& decoder, int orientation, const TBrandStamp& stamp,
                       const std::string& sourcePath, const std::string& targetPath,
                       const std::vector<TJpegSegment>& markers, int quality, int threads,
                       const std::function<void()>& guardTarget, std::vector<std::string>& warnings,
                       const TStampedPictureHandler& showPicture) {
  const bool turned = orientation != 1;
  const bool swaps = OrientationSwapsSides(orientation);
  const int width = swaps ? decoder.Height() : decoder.Width();
  const int height = swaps ? decoder.Width() : decoder.Height();
  const int bandRows = BandRows(width, height);
  std::shared_ptr<TBitmap> picture;
  if (turned) {
    const TBitmap row = decoder.NewBand(1);
    picture = std::make_shared<TBitmap>(width, height, row.PixelFormat());
    picture->Palette() = row.Palette();
  } else {
    picture = std::make_shared<TBitmap>(decoder.NewBand(height));
  }
  const bool twoThreads = threads >= 2 && height > bandRows;

  std::exception_ptr saveFailure;
  std::optional<TTargetFile> target;
  std::optional<TJpegBandEncoder> encoder;
  try {
    target.emplace(targetPath);
    encoder.emplace(
        width, height, quality, sourcePath,
        [&](std::span<const std::byte> bytes) { target->Write(bytes); }, markers);
  } catch (...) {
    saveFailure = std::current_exception();
  }

  TRowProgress progress;
  std::thread encoding;
  if (twoThreads && encoder) {
    encoding = std::thread([&] {
      try {
        for (int done = 0; done < height;) {
          const int ready = progress.WaitBeyond(done);
          if (ready < 0) return;  // the picture was given up
          encoder->WriteRows(*picture, done, ready - done);
          done = ready;
        }
        encoder->Finish();
      } catch (...) {
        saveFailure = std::current_exception();
      }
    });
  }
  // However this ends, the encoding thread is stopped and joined first.
  struct TStopEncoding {
    TRowProgress& progress;
    std::thread& thread;
    ~TStopEncoding() {
      if (!thread.joinable()) return;
      progress.Stop();
      thread.join();
    }
  } stopEncoding{progress, encoding};

  if (turned) {
    // No upright row is complete before the last stored row is in; a second
    // thread puts the rows in place while the next ones decode.
    const int storedRows = BandRows(decoder.Width(), decoder.Height());
    RunBands(decoder, storedRows, threads >= 2 && decoder.Height() > storedRows,
             {.Prepare = {}, .Use = [&](const TBand& band) {
                PlaceUpright(band.Pixels, band.Top, band.Rows, decoder.Height(), orientation,
                             *picture);
              }});
  }
  for (int top = 0; top < height;) {
    const int rows = std::min(bandRows, height - top);
    if (!turned) decoder.ReadRows(*picture, top, rows);
    stamp.PaintRows(*picture, top, rows);
    top += rows;
    progress.Publish(top);
  }
  if (!turned) decoder.Finish();
  warnings = decoder.Warnings();
  guardTarget();
  if (showPicture) showPicture(picture);

  if (encoding.joinable()) {
    encoding.join();
  } else if (encoder) {
    try {
      encoder->WriteRows(*picture, 0, height);
      encoder->Finish();
    } catch (...) {
      saveFailure = std::current_exception();
    }
  }
  if (saveFailure) std::rethrow_exception(saveFailure);
  guardTarget();
  target->Commit();
}

}  // namespace

void BrandJpegInBands(const std::string& brandText, const TFont& font,
                      const std::string& sourcePath, const std::string& targetPath,
                      const TJpegDecodeOptions& decodeOptions, int quality, int threads,
                      bool keepPictureInformation, const std::function<void()>& guardTarget,
                      std::vector<std::string>& warnings, const TStampLook& look,
                      const TStampedPictureHandler& showPicture) {
  guardTarget();
  TFileReader source(sourcePath);
  // The bound a whole-file read puts on a JPEG file, so both ways agree.
  if (source.Size() > kMaxJpegFileBytes) {
    throw ImageError(sourcePath + ": expected a JPEG file of at most " +
                     std::to_string(kMaxJpegFileBytes) + " bytes, found " +
                     std::to_string(source.Size()));
  }
  const std::vector<std::byte> header = ReadHeaderBytes(source);
  const TJpegMetadata metadata = ReadJpegMetadata(header);
  std::size_t served = 0;
  TJpegBandDecoder decoder(
      [&](std::span<std::byte> buffer) {
        if (served == header.size()) return source.Read(buffer);
        const std::size_t n = std::min(buffer.size(), header.size() - served);
        std::copy_n(header.begin() + static_cast<std::ptrdiff_t>(served), n, buffer.begin());
        served += n;
        return n;
      },
      source.Size(), sourcePath, decodeOptions);
  // Stamped and written upright, so the copy looks like the source in every
  // viewer and the brand reads at 45 degrees once it stands as it should.
  const bool swaps = OrientationSwapsSides(metadata.Orientation);
  const int uprightWidth = swaps ? decoder.Height() : decoder.Width();
  const int uprightHeight = swaps ? decoder.Width() : decoder.Height();
  const auto makeStamp = [&] {
    return TBrandStamp(brandText, font, uprightWidth, uprightHeight, look);
  };
  // Turning a picture upright moves rows across the whole picture.
  const bool wholePicture = showPicture || metadata.Orientation != 1;
  const int bandRows = BandRows(decoder.Width(), decoder.Height());
  const bool twoThreads = !wholePicture && threads >= 2 && decoder.Height() > bandRows;
  // A run's first brand waits some milliseconds for its font (fontconfig
  // reads its whole configuration): on two threads it is made on the other
  // one while this one starts decoding.
  std::future<TBrandStamp> making;
  std::optional<TBrandStamp> stamp;
  if (twoThreads) {
    making = std::async(std::launch::async, makeStamp);
  } else {
    stamp.emplace(makeStamp());
  }
  try {
    guardTarget();
    const std::vector<TJpegSegment> markers = BrandedCopySegments(metadata, keepPictureInformation);
    if (wholePicture) {
      BrandWholePicture(decoder, metadata.Orientation, *stamp, sourcePath, targetPath, markers,
                        quality, threads, guardTarget, warnings, showPicture);
      return;
    }
    TTargetFile target(targetPath);
    // Entropy coding runs through the picture in one chain; on two threads
    // the rest of the encoding (making the blocks) goes to whichever thread
    // is free.
    TJpegBandEncoder encoder(
        decoder.Width(), decoder.Height(), quality, sourcePath,
        [&target](std::span<const std::byte> bytes) { target.Write(bytes); }, markers,
        twoThreads ? TJpegBandEncoder::TInput::Blocks : TJpegBandEncoder::TInput::Rows);
    TBandWork work{.Prepare = [&](TBand& band) {
      if (!stamp) stamp.emplace(making.get());
      stamp->Paint(band.Pixels, band.Top);
    }};
    if (twoThreads) {
      work.CanPrepare = [&] {
        return making.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
      };
      work.Convert = [&](TBand& band) {
        encoder.MakeBlocks(band.Pixels, 0, band.Rows, band.Top, band.Blocks);
      };
      work.Use = [&](const TBand& band) { encoder.WriteBlocks(band.Blocks); };
    } else {
      work.Use = [&](const TBand& band) { encoder.WriteBand(band.Pixels, band.Rows); };
    }
    RunBands(decoder, bandRows, twoThreads, work);
    encoder.Finish();
    warnings = decoder.Warnings();
    guardTarget();
    target.Commit();
  } catch (...) {
    // A brand that cannot be made is reported ahead of anything that went
    // wrong with the picture meanwhile, as when it was made first.
    if (making.valid()) making.get();
    throw;
  }
}

}  // namespace sigilon
