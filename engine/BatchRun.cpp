#include "engine/BatchRun.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/PathText.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

/// One entry a run hands over.
struct TEntry {
  /// The path relative to the source directory: a name, or in a run over
  /// the tree, names with "/" between them.
  std::string Name;
  /// Why it is not branded; empty when it may be.
  std::string Refusal;
};

/// The entries of a run in order: the directory's files as listed (with the
/// files of its subfolders where each is listed, in a run over the tree), or
/// the names of a list; either way only those whose name falls into the
/// share. Directories, links to them and the target files a run is still
/// writing (or left when it was killed) are never handed over.
class TEntrySource {
 public:
  TEntrySource(const std::string& directory, const TBatchOptions& options)
      : directory_(directory),
        shard_(options.Shard),
        recursive_(options.Recursive),
        names_(options.FileNames ? &*options.FileNames : nullptr) {
    if (!names_) folders_.push_back({{}, std::make_unique<TDirectoryListing>(directory)});
  }

  std::optional<TEntry> Next() {
    for (;;) {
      std::optional<TEntry> entry = names_ ? NextListed() : NextInFolder();
      if (!entry) return std::nullopt;
      // The share first, so that of several tasks sharing one list only one
      // reports a name it refuses.
      if (!InShard(entry->Name, shard_)) continue;
      if (names_) entry->Refusal = ListedRefusal(entry->Name);
      return entry;
    }
  }

 private:
  struct TFolder {
    std::string Prefix;  // relative path of the folder, "" or ending in "/"
    std::unique_ptr<TDirectoryListing> Listing;
  };

  std::optional<TEntry> NextInFolder() {
    while (!folders_.empty()) {
      std::optional<TDirectoryEntry> file = folders_.back().Listing->Next();
      if (!file) {
        folders_.pop_back();
        continue;
      }
      if (IsTargetTemporaryName(file->Name)) continue;
      std::string name = folders_.back().Prefix + file->Name;
      if (!file->IsDirectory) return TEntry{std::move(name), {}};
      // Its files come next, before the rest of this folder's entries.
      if (recursive_ && !file->IsLink) {
        folders_.push_back({name + "/", std::make_unique<TDirectoryListing>(directory_ + name)});
      }
    }
    return std::nullopt;
  }

  std::optional<TEntry> NextListed() {
    if (next_ >= names_->size()) return std::nullopt;
    return TEntry{(*names_)[next_++], {}};
  }

  std::string ListedRefusal(const std::string& name) const {
    std::string refusal = ListedNameRefusal(name, recursive_);
    if (!refusal.empty()) return refusal;
    // The walk never follows a link to a folder; neither does a list.
    for (std::size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      if (IsSymbolicLink(directory_ + name.substr(0, slash))) {
        return "the path leads through a link to a folder";
      }
    }
    if (DirectoryExists(directory_ + name)) return "a directory, not a file";
    return {};
  }

  const std::string directory_;
  const TShard shard_;
  const bool recursive_;
  const std::vector<std::string>* names_;
  std::size_t next_ = 0;
  std::vector<TFolder> folders_;
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
  // The folder to make before the copy is written (a run over the tree);
  // empty when the target directory holds it.
  std::string TargetFolder;
  // Entries handed over before it, plus one: the same whatever the jobs.
  std::int64_t Number = 0;
  TFileOutcome Outcome;
  std::exception_ptr Escaped;
  bool Done = false;
};

// Makes a copy's folder; why it cannot be made, or the empty text.
std::string MakeFolder(const std::string& folder) {
  try {
    CreateDirectories(folder);
    return {};
  } catch (const PlatformError& error) {
    return error.what();
  }
}

void BrandJob(TJob& job, const TPreviewCallback& preview, const TBrandOptions& options,
              const TBrandFileFunction& brandFile) {
  TBrandOutcome result;
  if (!job.Refusal.empty()) {
    result = {.Kind = TOutcomeKind::Failed, .Reason = job.Refusal};
  } else if (job.SkipExisting && PathExists(job.TargetPath)) {
    result = {.Kind = TOutcomeKind::Skipped};
  } else if (std::string failure = MakeFolder(job.TargetFolder); !failure.empty()) {
    result = {.Kind = TOutcomeKind::Failed, .Reason = std::move(failure)};
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

// The copy's path relative to the target directory: the source's, or with
// the extension of the type every picture is converted to.
std::string TargetName(const std::string& name, const TBatchOptions& options) {
  if (!options.ConvertTo || !FormatForPath(name, options.Brand.AllTypes)) return name;
  return ConvertedName(name, *options.ConvertTo);
}

}  // namespace

void ConvertCopies(TBatchOptions& options, const std::optional<TConversionType>& type) {
  options.ConvertTo = type;
  options.Brand.WriteFormat = type ? ConversionFormat(*type) : nullptr;
}

std::string StartDirectoryMessage(const std::string& applicationTitle) {
  return "You cannot save the Target images into " + applicationTitle + "'s directory!";
}

std::string CountLine(std::int64_t count) { return std::to_string(count) + " files processed."; }

TBatchRefusal CheckBatchSettings(const TBatchSettings& settings, const std::string& startDirectory,
                                 bool recursive) {
  if (settings.BrandText.empty() && !settings.HasLogo) return TBatchRefusal::NoBrandText;
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
  if (recursive && DirectoriesNest(settings.SourceDirectory, settings.TargetDirectory)) {
    return TBatchRefusal::NestedDirectory;
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
    case TBatchRefusal::NestedDirectory:
      return kNestedDirectoryMessage;
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
    // Checked before the run (CheckBatchSettings) for its own tree.
    const std::string targetDirectory = settings.TargetDirectory;
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

    // Converted copies of two sources may share a name (IMG.JPG and IMG.BMP
    // both become IMG.jpg): the first keeps it. Hashes, not names, so that a
    // big tree costs little.
    std::unordered_set<std::size_t> convertedTargets;
    // The target folders of a tree whose leftovers have been looked for.
    std::unordered_set<std::string> cleanedFolders;
    std::optional<TEntry> entry = entries.Next();
    std::int64_t handedOver = 0;
    while (entry && !cancelled()) {
      auto job = std::make_unique<TJob>();
      job->Number = ++handedOver;
      job->Settings = hooks.ReadSettings && !parallel ? hooks.ReadSettings() : settings;
      const std::string targetName = TargetName(entry->Name, options);
      job->TargetPath = job->Settings.TargetDirectory + targetName;
      job->SourcePath = job->Settings.SourceDirectory + entry->Name;
      // The settings may have changed since the run began: nothing is ever
      // written into the walked directory or the current source directory,
      // whatever the target text says (links included), nor, over a tree,
      // anywhere inside the walked tree.
      job->Refusal = entry->Refusal;
      if (job->Refusal.empty() &&
          (TargetReachesSource(walkedDirectory + entry->Name, job->TargetPath) ||
           TargetReachesSource(job->SourcePath, job->TargetPath) ||
           (options.Recursive && job->Settings.TargetDirectory != targetDirectory &&
            DirectoriesNest(walkedDirectory, job->Settings.TargetDirectory)))) {
        job->Refusal = "the target " + job->TargetPath + " leads into the source directory";
      }
      if (options.ConvertTo && job->Refusal.empty() &&
          !convertedTargets.insert(std::hash<std::string>{}(targetName)).second) {
        job->Refusal = "its copy " + job->TargetPath + " is the copy of another file of this run";
      }
      job->SkipExisting = options.SkipExisting;
      // Folders are made for pictures only, not for files that are passed over.
      if (const std::size_t slash = targetName.rfind('/');
          slash != std::string::npos && FormatForPath(entry->Name, brand.AllTypes)) {
        job->TargetFolder = job->Settings.TargetDirectory + targetName.substr(0, slash);
        if (cleanedFolders.insert(job->TargetFolder).second) {
          RemoveStaleTargetFiles(job->TargetFolder);
        }
      }
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

std::int64_t CountBatchEntries(const std::string& directory, bool recursive) {
  std::int64_t count = 0;
  TBatchOptions options;
  options.Recursive = recursive;
  for (TEntrySource entries(directory, options); entries.Next();) ++count;
  return count;
}

}  // namespace sigilon
