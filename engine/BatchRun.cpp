#include "engine/BatchRun.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/PathText.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

/// The next entry of the listing that is not a directory (a link to a
/// directory counts as one) nor a target file that a run is still writing
/// (or left when it was killed); nothing at the end or when the listing fails.
std::optional<TDirectoryEntry> NextFile(TDirectoryListing& listing) {
  for (;;) {
    std::optional<TDirectoryEntry> entry = listing.Next();
    if (!entry || (!entry->IsDirectory && !IsTargetTemporaryName(entry->Name))) return entry;
  }
}

/// One entry a run hands over.
struct TEntry {
  std::string Name;
  /// Why it is not branded; empty when it may be.
  std::string Refusal;
};

/// The entries of a run in order: the directory's files as listed, or the
/// names of a list; either way only those whose name falls into the share.
class TEntrySource {
 public:
  TEntrySource(const std::string& directory, const TBatchOptions& options)
      : directory_(directory),
        shard_(options.Shard),
        names_(options.FileNames ? &*options.FileNames : nullptr) {
    if (!names_) listing_.emplace(directory);
  }

  std::optional<TEntry> Next() {
    for (;;) {
      std::optional<TEntry> entry = names_ ? NextListed() : NextInFolder();
      if (!entry) return std::nullopt;
      // The share first, so that of several tasks sharing one list only one
      // reports a name it refuses.
      if (!InShard(entry->Name, shard_)) continue;
      if (names_) {
        entry->Refusal = ListedNameRefusal(entry->Name);
        if (entry->Refusal.empty() && DirectoryExists(directory_ + entry->Name)) {
          entry->Refusal = "a directory, not a file";
        }
      }
      return entry;
    }
  }

 private:
  std::optional<TEntry> NextInFolder() {
    std::optional<TDirectoryEntry> file = NextFile(*listing_);
    if (!file) return std::nullopt;
    return TEntry{std::move(file->Name), {}};
  }

  std::optional<TEntry> NextListed() {
    if (next_ >= names_->size()) return std::nullopt;
    return TEntry{(*names_)[next_++], {}};
  }

  const std::string directory_;
  const TShard shard_;
  const std::vector<std::string>* names_;
  std::size_t next_ = 0;
  std::optional<TDirectoryListing> listing_;
};

/// One entry on its way through the run.
struct TJob {
  TBatchSettings Settings;
  std::string SourcePath;
  std::string TargetPath;
  // Why the entry is never branded (a target that leads back into the walked
  // directory, a listed name that is no file of it); empty when it may be.
  std::string Refusal;
  bool SkipExisting = false;
  // Entries handed over before it, plus one: the same whatever the jobs.
  std::int64_t Number = 0;
  TFileOutcome Outcome;
  std::exception_ptr Escaped;
  bool Done = false;
};

void BrandJob(TJob& job, const TPreviewCallback& preview, const TBrandOptions& options,
              const TBrandFileFunction& brandFile) {
  TBrandOutcome result;
  if (!job.Refusal.empty()) {
    result = {.Kind = TOutcomeKind::Failed, .Reason = job.Refusal};
  } else if (job.SkipExisting && PathExists(job.TargetPath)) {
    result = {.Kind = TOutcomeKind::Skipped};
  } else {
    TBrandOptions numbered = options;
    numbered.FileNumber = job.Number;
    result = brandFile(job.Settings.BrandText, job.Settings.FontText, job.SourcePath,
                       job.TargetPath, preview, numbered);
  }
  TFileOutcome& outcome = job.Outcome;
  outcome.SourcePath = job.SourcePath;
  outcome.ResultLine = ResultLine(result.Kind, job.SourcePath);
  outcome.Reason = OutcomeNote(result);
  outcome.Failed = result.Kind == TOutcomeKind::Failed;
}

/// Brands up to `jobs` pictures at once on threads of its own and hands the
/// outcomes back in the order the jobs were added.
class TParallelBrander {
 public:
  TParallelBrander(int jobs, const TBrandOptions& options, const TBrandFileFunction& brandFile)
      : limit_(static_cast<std::size_t>(jobs)), options_(Unshown(options)), brandFile_(brandFile) {
    workers_.reserve(limit_);
    for (std::size_t i = 0; i < limit_; ++i) workers_.emplace_back([this] { Work(); });
  }

  ~TParallelBrander() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
      waiting_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  TParallelBrander(const TParallelBrander&) = delete;
  TParallelBrander& operator=(const TParallelBrander&) = delete;

  /// Waits until a picture may start (at most `jobs` in memory), handing the
  /// finished outcomes to `finished` in order meanwhile, then queues the job.
  template <typename Finished>
  void Add(std::unique_ptr<TJob> job, const Finished& finished) {
    for (;;) {
      Deliver(finished);
      std::unique_lock lock(mutex_);
      if (busy_ < limit_) {
        ++busy_;
        waiting_.push_back(job.get());
        order_.push_back(std::move(job));
        lock.unlock();
        wake_.notify_all();
        return;
      }
      done_.wait(lock, [this] { return busy_ < limit_ || FrontDone(); });
    }
  }

  /// Waits for every job added and hands the outcomes on in order.
  template <typename Finished>
  void Finish(const Finished& finished) {
    for (;;) {
      Deliver(finished);
      std::unique_lock lock(mutex_);
      if (order_.empty()) return;
      done_.wait(lock, [this] { return FrontDone(); });
    }
  }

 private:
  // Nothing can show a picture from a worker thread.
  static TBrandOptions Unshown(TBrandOptions options) {
    options.PicturePreview = nullptr;
    return options;
  }

  bool FrontDone() const { return !order_.empty() && order_.front()->Done; }

  // Hands on the finished jobs at the front, outside the lock: the front end
  // may take its time writing.
  template <typename Finished>
  void Deliver(const Finished& finished) {
    for (;;) {
      std::unique_ptr<TJob> job;
      {
        const std::lock_guard lock(mutex_);
        if (!FrontDone()) return;
        job = std::move(order_.front());
        order_.pop_front();
      }
      finished(*job);
    }
  }

  void Work() {
    for (;;) {
      TJob* job = nullptr;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        job = waiting_.front();
        waiting_.pop_front();
      }
      try {
        BrandJob(*job, nullptr, options_, brandFile_);
      } catch (...) {
        job->Escaped = std::current_exception();
      }
      {
        const std::lock_guard lock(mutex_);
        job->Done = true;
        --busy_;
      }
      done_.notify_all();
    }
  }

  const std::size_t limit_;
  const TBrandOptions options_;
  const TBrandFileFunction brandFile_;
  std::mutex mutex_;
  std::condition_variable wake_;  // workers: a job is waiting, or stop
  std::condition_variable done_;  // the run: a job has finished
  std::deque<TJob*> waiting_;
  std::deque<std::unique_ptr<TJob>> order_;
  std::size_t busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

std::string StartDirectoryMessage(const std::string& applicationTitle) {
  return "You cannot save the Target images into " + applicationTitle + "'s directory!";
}

std::string CountLine(std::int64_t count) { return std::to_string(count) + " files processed."; }

TBatchRefusal CheckBatchSettings(const TBatchSettings& settings,
                                 const std::string& startDirectory) {
  if (settings.BrandText.empty()) return TBatchRefusal::NoBrandText;
  if (settings.SourceDirectory.empty()) return TBatchRefusal::NoSourceDirectory;
  if (settings.TargetDirectory.empty()) return TBatchRefusal::NoTargetDirectory;
  if (settings.SourceDirectory == settings.TargetDirectory ||
      SameDirectory(settings.SourceDirectory, settings.TargetDirectory)) {
    return TBatchRefusal::SameDirectory;
  }
  if (!startDirectory.empty() &&
      (AsciiUpper(settings.TargetDirectory) == AsciiUpper(startDirectory) ||
       SameDirectory(settings.TargetDirectory, startDirectory))) {
    return TBatchRefusal::StartDirectory;
  }
  return TBatchRefusal::None;
}

std::string RefusalMessage(TBatchRefusal refusal, const std::string& applicationTitle) {
  switch (refusal) {
    case TBatchRefusal::None:
      return {};
    case TBatchRefusal::NoBrandText:
      return kNoBrandTextMessage;
    case TBatchRefusal::NoSourceDirectory:
      return kNoSourceDirectoryMessage;
    case TBatchRefusal::NoTargetDirectory:
      return kNoTargetDirectoryMessage;
    case TBatchRefusal::SameDirectory:
      return kSameDirectoryMessage;
    case TBatchRefusal::StartDirectory:
      return StartDirectoryMessage(applicationTitle);
  }
  return {};
}

TBatchSummary RunBatch(const TBatchSettings& settings, const TBatchHooks& hooks,
                       const TBatchOptions& options, const TBrandFileFunction& brandFile) {
  TBatchSummary summary;
  const auto cancelled = [&] { return hooks.Cancelled && hooks.Cancelled(); };
  const auto writeLine = [&](const std::string& line) {
    if (hooks.WriteLine) hooks.WriteLine(line);
  };
  const auto finished = [&](TJob& job) {
    if (job.Escaped) std::rethrow_exception(job.Escaped);
    ++summary.Count;
    if (job.Outcome.Failed) ++summary.Failed;
    job.Outcome.Index = summary.Count;
    if (hooks.FileDone) hooks.FileDone(job.Outcome);
  };

  // Left behind by an earlier run that was killed mid-write.
  RemoveStaleTargetFiles(settings.TargetDirectory);

  {
    const std::string walkedDirectory = settings.SourceDirectory;
    int jobs = options.Jobs;
    TBrandOptions brand = options.Brand;
    if (jobs > 1) {
      // Fewer pictures than jobs: the spare cores go to the pictures themselves.
      std::int64_t count = 0;
      for (TEntrySource counting(walkedDirectory, options); counting.Next();) ++count;
      count = std::max<std::int64_t>(1, count);
      if (count < jobs) {
        brand.Threads = std::max(brand.Threads, static_cast<int>(jobs / count));
        jobs = static_cast<int>(count);
      }
    }
    TEntrySource entries(walkedDirectory, options);
    std::optional<TParallelBrander> parallel;
    if (jobs > 1) {
      // No preview of pictures branded on other threads, in either form.
      brand.PicturePreview = nullptr;
      parallel.emplace(jobs, brand, brandFile);
    }

    std::optional<TEntry> entry = entries.Next();
    std::int64_t handedOver = 0;
    while (entry && !cancelled()) {
      auto job = std::make_unique<TJob>();
      job->Number = ++handedOver;
      job->Settings = hooks.ReadSettings && !parallel ? hooks.ReadSettings() : settings;
      job->TargetPath = job->Settings.TargetDirectory + entry->Name;
      job->SourcePath = job->Settings.SourceDirectory + entry->Name;
      // The settings may have changed since the run began: nothing is ever
      // written into the walked directory or the current source directory,
      // whatever the target text says (links included).
      job->Refusal = entry->Refusal;
      if (job->Refusal.empty() &&
          (TargetReachesSource(walkedDirectory + entry->Name, job->TargetPath) ||
           TargetReachesSource(job->SourcePath, job->TargetPath))) {
        job->Refusal = "the target " + job->TargetPath + " leads into the source directory";
      }
      job->SkipExisting = options.SkipExisting;
      if (parallel) {
        parallel->Add(std::move(job), finished);
      } else {
        BrandJob(*job, hooks.Preview, brand, brandFile);
        finished(*job);
      }
      entry = entries.Next();
      if (hooks.ListingAdvanced) hooks.ListingAdvanced();
    }
    if (parallel) parallel->Finish(finished);
  }
  summary.Cancelled = cancelled();

  if (summary.Cancelled && options.ReportCancel) {
    writeLine(std::string());
    writeLine(kCanceledMessage);
  }
  if (summary.Count == 0) {
    if (hooks.ShowMessage) hooks.ShowMessage(kNoImagesMessage);
    writeLine(kNoImagesMessage);
  } else {
    writeLine(std::string());
    writeLine(CountLine(summary.Count));
  }
  return summary;
}

std::int64_t CountBatchEntries(const std::string& directory) {
  std::int64_t count = 0;
  for (TEntrySource entries(directory, TBatchOptions{}); entries.Next();) ++count;
  return count;
}

}  // namespace sigilon
