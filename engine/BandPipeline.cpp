#include "engine/BandPipeline.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "engine/BandSync.h"

namespace sigilon {

namespace {

// Bands in flight between the reading and the writing thread: enough to
// ride out the uneven pace of the two, not so many that memory grows.
constexpr int kBandsInFlight = 4;

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

// Reads the next band; false when the picture is complete.
bool ReadNext(TBandReader& reader, TBand& band) {
  if (reader.NextRow() >= reader.Header().Height) return false;
  band.Top = reader.NextRow();
  band.Rows = reader.ReadBand(band.Pixels);
  return true;
}

// Reads the next band and prepares it; false when the picture is complete.
bool Produce(TBandReader& reader, const TBandWork& work, TBand& band) {
  if (!ReadNext(reader, band)) return false;
  if (work.Prepare) work.Prepare(band);
  return true;
}

}  // namespace

void RunBands(TBandReader& reader, int bandRows, bool twoThreads, const TBandWork& work) {
  if (!twoThreads) {
    TBand band{reader.NewBand(bandRows)};
    while (Produce(reader, work, band)) {
      if (work.Convert) work.Convert(band);
      work.Use(band);
    }
    reader.Finish();
    return;
  }
  std::vector<TBand> bands;
  for (int i = 0; i < kBandsInFlight; ++i) bands.push_back({reader.NewBand(bandRows)});
  // The first bands, decoded while they cannot be prepared yet; they are
  // the first to be filled below.
  std::size_t decodedAhead = 0;
  while (work.CanPrepare && decodedAhead < bands.size() && !work.CanPrepare() &&
         ReadNext(reader, bands[decodedAhead])) {
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
      } else if (!Produce(reader, work, *step.Fill)) {
        complete = true;
        break;
      }
      ring.Filled();
    }
    if (complete) {
      reader.Finish();
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

}  // namespace sigilon
