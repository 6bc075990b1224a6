#pragma once
/// The small synchronisation pieces of branding on two threads: state that
/// one mutex and one condition guard, and rows published by one thread to
/// another.

#include <condition_variable>
#include <mutex>

namespace sigilon {

/// State shared by two threads: every change wakes whoever waits on it.
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
  /// Waits until `ready` holds; the lock is held while the caller reads.
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

/// How many rows of a whole picture are ready, published by the thread that
/// makes them to the one that uses them.
class TRowProgress : TSharedState {
 public:
  void Publish(int rows) {
    Update([&] { ready_ = rows; });
  }
  void Stop() {
    Update([&] { stopped_ = true; });
  }
  /// Waits for more than `have` rows; -1 once stopped.
  int WaitBeyond(int have) {
    const auto lock = Await([&] { return stopped_ || ready_ > have; });
    return stopped_ ? -1 : ready_;
  }

 private:
  int ready_ = 0;
  bool stopped_ = false;
};

}  // namespace sigilon
