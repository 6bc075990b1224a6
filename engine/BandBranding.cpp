#include "engine/BandBranding.h"

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "engine/BandPipeline.h"
#include "engine/BandSync.h"
#include "engine/BrandStamp.h"
#include "engine/Canvas.h"
#include "engine/Orientation.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

bool IsReady(const std::future<TBrandStamp>& making) {
  return making.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// The upright size of what `reader` reads.
struct TUprightSize {
  int Width;
  int Height;
};
TUprightSize UprightSize(const TBandReader& reader) {
  const TPictureHeader& header = reader.Header();
  if (OrientationSwapsSides(reader.Metadata().Orientation)) return {header.Height, header.Width};
  return {header.Width, header.Height};
}

// The target's bytes revisited, for a type whose header points ahead.
TPictureRevisit RevisitOf(TTargetFile& target) {
  return {
      .WriteAt = [&target](std::uint64_t offset,
                           std::span<const std::byte> bytes) { target.WriteAt(offset, bytes); },
      .ReadAt = [&target](std::uint64_t offset,
                          std::span<std::byte> buffer) { return target.ReadAt(offset, buffer); }};
}

TWriteSpec WriteSpec(const TBrandJob& job, const TBandReader& reader, bool splitEncoding,
                     TTargetFile& target, int pages = 1) {
  const TUprightSize size = UprightSize(reader);
  return {.Name = job.SourcePath,
          .Width = size.Width,
          .Height = size.Height,
          .BitsPerSample = reader.Header().BitsPerSample,
          .Metadata = &reader.Metadata(),
          .KeepMetadata = job.Options.KeepMetadata,
          .SplitEncoding = splitEncoding,
          .Quality = job.Options.Quality,
          .Optimize = job.Options.Optimize,
          .Pages = pages,
          .Revisit = RevisitOf(target)};
}

// An upright picture for what `reader` reads: its size turned as its
// orientation says, the pixel format and palette of its bands.
TBitmap UprightPicture(const TBandReader& reader) {
  const TUprightSize size = UprightSize(reader);
  const TBitmap row = reader.NewBand(1);
  TBitmap picture(size.Width, size.Height, row.PixelFormat());
  picture.Palette() = row.Palette();
  picture.PaletteAlpha = row.PaletteAlpha;
  return picture;
}

// Reads the rest of the page into `picture` (made by UprightPicture). No
// upright row is complete before the last stored row is in; a second thread
// puts the rows in place while the next ones are read.
void ReadUpright(TBandReader& reader, TBitmap& picture, int threads) {
  const int storedHeight = reader.Header().Height;
  const int orientation = reader.Metadata().Orientation;
  const int storedRows = BandRows(reader.Header().Width, storedHeight);
  RunBands(reader, storedRows, threads >= 2 && storedHeight > storedRows,
           {.Prepare = {}, .Use = [&](const TBand& band) {
              PlaceUpright(band.Pixels, band.Top, band.Rows, storedHeight, orientation, picture);
            }});
}

// Keeps the whole stamped picture: to show it, or because it must be turned
// upright (each band read is put where it belongs as it comes). A picture
// to be shown is shown before a failure to save is reported. With two
// threads the encoder follows the stamping row by row instead of waiting for
// the whole picture, and is still finishing while the picture is shown.
std::vector<std::string> BrandWholePicture(const TBrandJob& job, const TPictureFormat& format,
                                           const TPictureFormat& writeFormat, TBandReader& reader,
                                           const TBrandStamp& stamp) {
  const bool turned = reader.Metadata().Orientation != 1;
  // Plain variables, not a structured binding: lambdas below capture them.
  const int width = UprightSize(reader).Width;
  const int height = UprightSize(reader).Height;
  const int bandRows = BandRows(width, height);
  const auto picture =
      std::make_shared<TBitmap>(turned ? UprightPicture(reader) : reader.NewBand(height));
  const int threads = job.Options.Threads;
  const bool twoThreads = threads >= 2 && height > bandRows;

  std::exception_ptr saveFailure;
  std::optional<TTargetFile> target;
  std::unique_ptr<TBandWriter> writer;
  try {
    target.emplace(job.TargetPath);
    writer = OpenBandWriterFor(writeFormat, picture->PixelFormat(),
                               WriteSpec(job, reader, false, *target),
                               [&](std::span<const std::byte> bytes) { target->Write(bytes); });
  } catch (...) {
    saveFailure = std::current_exception();
  }

  TRowProgress progress;
  std::thread encoding;
  if (twoThreads && writer) {
    encoding = std::thread([&] {
      try {
        for (int done = 0; done < height;) {
          const int ready = progress.WaitBeyond(done);
          if (ready < 0) return;  // the picture was given up
          writer->WriteRows(*picture, done, ready - done);
          done = ready;
        }
        writer->Finish();
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

  if (turned) ReadUpright(reader, *picture, threads);
  for (int top = 0; top < height;) {
    const int rows = std::min(bandRows, height - top);
    if (!turned) reader.ReadRows(*picture, top, rows);
    stamp.PaintRows(*picture, top, rows);
    top += rows;
    progress.Publish(top);
  }
  if (!turned) reader.Finish();
  std::vector<std::string> warnings = reader.Warnings();
  job.GuardTarget();
  RefuseDamaged(job, format, warnings);
  if (job.ShowPicture) job.ShowPicture(picture);

  if (encoding.joinable()) {
    encoding.join();
  } else if (writer) {
    try {
      writer->WriteRows(*picture, 0, height);
      writer->Finish();
    } catch (...) {
      saveFailure = std::current_exception();
    }
  }
  if (saveFailure) std::rethrow_exception(saveFailure);
  job.GuardTarget();
  target->Commit();
  return warnings;
}

}  // namespace

std::vector<std::string> BrandInBands(const TBrandJob& job, const TPictureFormat& format,
                                      const TPictureFormat& writeFormat) {
  job.GuardTarget();
  const std::unique_ptr<TBandReader> reader =
      format.OpenBandReader({.Path = job.SourcePath, .Display = job.Options.Display});
  // Stamped and written upright, so the copy looks like the source in every
  // viewer and the brand reads at 45 degrees once it stands as it should.
  const int uprightWidth = UprightSize(*reader).Width;
  const int uprightHeight = UprightSize(*reader).Height;
  // Warnings about the brand text itself (its fields), after the picture's own.
  std::vector<std::string> textWarnings;
  const std::string text = StampText(job, reader->Metadata(), textWarnings);
  const auto withTextWarnings = [&](std::vector<std::string> warnings) {
    warnings.insert(warnings.end(), textWarnings.begin(), textWarnings.end());
    return warnings;
  };
  const auto makeStamp = [&] {
    return TBrandStamp(text, job.Font, uprightWidth, uprightHeight, job.Options.Look);
  };
  // Every page of a file that holds several, where the copy can hold them.
  const int pages = writeFormat.HoldsPages() ? reader->Pages() : 1;
  // Turning a picture upright moves rows across the whole picture. A page of
  // several is turned on its own below, the others still streaming.
  const bool wholePicture = job.ShowPicture || (pages == 1 && reader->Metadata().Orientation != 1);
  const auto canUseTwo = [&] {
    return job.Options.Threads >= 2 &&
           reader->Header().Height > BandRows(reader->Header().Width, reader->Header().Height);
  };
  const bool twoThreads = !wholePicture && canUseTwo();
  // A run's first brand waits some milliseconds for its font (fontconfig
  // reads its whole configuration): on two threads it is made on the other
  // one while this one starts reading.
  std::future<TBrandStamp> making;
  std::optional<TBrandStamp> stamp;
  if (twoThreads) {
    making = std::async(std::launch::async, makeStamp);
  } else {
    stamp.emplace(makeStamp());
  }
  try {
    job.GuardTarget();
    if (wholePicture) {
      return withTextWarnings(BrandWholePicture(job, format, writeFormat, *reader, *stamp));
    }
    TTargetFile target(job.TargetPath);
    // On two threads the first half of the encoding (for JPEG, making the
    // blocks) goes to whichever thread is free; the rest runs through the
    // picture in one chain.
    const std::unique_ptr<TBandWriter> writer =
        OpenBandWriterFor(writeFormat, reader->NewBand(1).PixelFormat(),
                          WriteSpec(job, *reader, twoThreads, target, pages),
                          [&target](std::span<const std::byte> bytes) { target.Write(bytes); });
    TBandWork work{.Prepare = [&](TBand& band) {
      if (!stamp) stamp.emplace(making.get());
      stamp->Paint(band.Pixels, band.Top);
    }};
    if (twoThreads) work.CanPrepare = [&] { return stamp || IsReady(making); };
    if (writer->SplitsEncoding()) {
      work.Convert = [&](TBand& band) {
        if (!band.Encoded) band.Encoded = writer->NewEncodedBand();
        writer->EncodeBand(band.Pixels, band.Rows, band.Top, *band.Encoded);
      };
      work.Use = [&](const TBand& band) { writer->WriteEncoded(*band.Encoded); };
    } else {
      work.Use = [&](const TBand& band) { writer->WriteBand(band.Pixels, band.Rows); };
    }
    for (int page = 0; page < pages; ++page) {
      if (page > 0) {
        reader->NextPage();
        const TUprightSize size = UprightSize(*reader);
        writer->NextPage(size.Width, size.Height);
        stamp.emplace(text, job.Font, size.Width, size.Height, job.Options.Look);
      }
      if (reader->Metadata().Orientation == 1) {
        RunBands(*reader, BandRows(reader->Header().Width, reader->Header().Height),
                 page == 0 ? twoThreads : canUseTwo(), work);
        continue;
      }
      // A page that must be turned is held whole, once.
      TBitmap picture = UprightPicture(*reader);
      ReadUpright(*reader, picture, job.Options.Threads);
      if (!stamp) stamp.emplace(making.get());
      stamp->Paint(picture, 0);
      writer->WriteRows(picture, 0, picture.Height());
    }
    writer->Finish();
    const std::vector<std::string> warnings = reader->Warnings();
    job.GuardTarget();
    RefuseDamaged(job, format, warnings);
    target.Commit();
    return withTextWarnings(warnings);
  } catch (...) {
    // A brand that cannot be made is reported ahead of anything that went
    // wrong with the picture meanwhile, as when it was made first.
    if (making.valid()) making.get();
    throw;
  }
}

}  // namespace sigilon
