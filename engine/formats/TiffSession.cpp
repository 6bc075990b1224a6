#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/Errors.h"
#include "engine/formats/TiffCodec.h"
#include "platform/Files.h"

namespace sigilon {

namespace {

class TBytesFile final : public TTiffFile {
 public:
  explicit TBytesFile(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
    std::memcpy(buffer.data(), bytes_.data() + offset, n);
    return n;
  }
  void WriteAt(std::uint64_t, std::span<const std::byte>) override {
    throw ImageError("a TIFF file being read is not written");
  }

 private:
  std::span<const std::byte> bytes_;
};

class TDiskFile final : public TTiffFile {
 public:
  explicit TDiskFile(const std::string& path) : reader_(path) {}
  std::uint64_t Size() const override { return reader_.Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override {
    return reader_.ReadAt(offset, buffer);
  }
  void WriteAt(std::uint64_t, std::span<const std::byte>) override {
    throw ImageError("a TIFF file being read is not written");
  }

 private:
  TFileReader reader_;
};

// libtiff appends strips and directories, and goes back only to link a
// directory to the header or to the directory before: the bytes go out as
// they come, and the few it goes back to are revisited.
class TSinkFile final : public TTiffFile {
 public:
  TSinkFile(TPictureSink sink, TPictureRevisit revisit)
      : sink_(std::move(sink)), revisit_(std::move(revisit)) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override {
    if (offset >= size_) return 0;
    return revisit_.ReadAt(offset,
                           buffer.first(std::min<std::uint64_t>(buffer.size(), size_ - offset)));
  }
  void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override {
    if (offset < size_) {
      const std::size_t n = std::min<std::uint64_t>(bytes.size(), size_ - offset);
      revisit_.WriteAt(offset, bytes.first(n));
      bytes = bytes.subspan(n);
      offset += n;
    }
    if (bytes.empty()) return;
    if (offset > size_) {
      const std::vector<std::byte> gap(offset - size_);
      sink_(gap);
      size_ = offset;
    }
    sink_(bytes);
    size_ += bytes.size();
  }

 private:
  TPictureSink sink_;
  TPictureRevisit revisit_;
  std::uint64_t size_ = 0;
};

std::string Formatted(const char* module, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  std::string message = text;
  if (module != nullptr && *module != '\0') message = std::string(module) + ": " + message;
  return message;
}

int CloseProc(thandle_t) { return 0; }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

}  // namespace

std::unique_ptr<TTiffFile> TiffFileOf(std::span<const std::byte> bytes) {
  return std::make_unique<TBytesFile>(bytes);
}

std::unique_ptr<TTiffFile> TiffFileAt(const std::string& path) {
  return std::make_unique<TDiskFile>(path);
}

std::unique_ptr<TTiffFile> TiffFileTo(TPictureSink sink, TPictureRevisit revisit,
                                      const std::string& name) {
  if (!revisit.WriteAt || !revisit.ReadAt) {
    throw ImageError(name + ": a TIFF file needs a target whose bytes can be revisited");
  }
  return std::make_unique<TSinkFile>(std::move(sink), std::move(revisit));
}

int TTiffSession::OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto& session = *static_cast<TTiffSession*>(user);
  if (session.error_.empty()) session.error_ = Formatted(module, format, args);
  return 1;
}

int TTiffSession::OnWarning(TIFF*, void* user, const char* module, const char* format,
                            va_list args) {
  auto& session = *static_cast<TTiffSession*>(user);
  std::string message = Formatted(module, format, args);
  // Private tags (a camera's, an editor's) are not damage.
  if (message.find("Unknown field with tag") != std::string::npos) return 1;
  auto& warnings = session.warnings_;
  if (warnings.size() < kMaxTiffWarnings &&
      std::find(warnings.begin(), warnings.end(), message) == warnings.end()) {
    warnings.push_back(std::move(message));
  }
  return 1;
}

// The file's calls come from libtiff's C frames: a failure is kept for Check
// and libtiff told of a short read or write.
tmsize_t TTiffSession::OnRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto& session = *static_cast<TTiffSession*>(handle);
  if (size < 0 || session.pending_) return -1;
  try {
    const std::size_t n = session.file_->ReadAt(
        session.at_, {static_cast<std::byte*>(buffer), static_cast<std::size_t>(size)});
    session.at_ += n;
    return static_cast<tmsize_t>(n);
  } catch (...) {
    session.pending_ = std::current_exception();
    return -1;
  }
}

tmsize_t TTiffSession::OnWrite(thandle_t handle, void* buffer, tmsize_t size) {
  auto& session = *static_cast<TTiffSession*>(handle);
  if (size < 0 || session.pending_) return -1;
  try {
    session.file_->WriteAt(session.at_,
                           {static_cast<const std::byte*>(buffer), static_cast<std::size_t>(size)});
    session.at_ += static_cast<std::uint64_t>(size);
    return size;
  } catch (...) {
    session.pending_ = std::current_exception();
    return -1;
  }
}

toff_t TTiffSession::OnSeek(thandle_t handle, toff_t offset, int whence) {
  auto& session = *static_cast<TTiffSession*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = session.at_;
  if (whence == SEEK_END) base = session.file_->Size();
  session.at_ = base + offset;
  return session.at_;
}

toff_t TTiffSession::OnSize(thandle_t handle) {
  return static_cast<TTiffSession*>(handle)->file_->Size();
}

TTiffSession::TTiffSession(std::unique_ptr<TTiffFile> file, TMode mode, std::string name)
    : name_(std::move(name)), file_(std::move(file)) {
  const std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                             TIFFOpenOptionsFree);
  if (!options) throw ImageError(name_ + ": TIFF: out of memory");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxTiffSingleAlloc));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, this);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, this);
  // 'm': never mapped, so that a big strip is read a part at a time. Classic
  // TIFF holds 4 GB, more than the largest picture the caps admit.
  tiff_.reset(TIFFClientOpenExt(name_.c_str(), mode == TMode::Read ? "rm" : "w", this, OnRead,
                                OnWrite, OnSeek, CloseProc, OnSize, MapProc, UnmapProc,
                                options.get()));
  Check(tiff_ != nullptr, "not a readable TIFF file");
}

TTiffSession::~TTiffSession() = default;

void TTiffSession::Check(bool ok, const char* what) {
  if (pending_) {
    std::exception_ptr pending;
    pending.swap(pending_);
    error_.clear();
    std::rethrow_exception(pending);
  }
  if (ok && error_.empty()) return;
  std::string message = name_ + ": " + what;
  if (!error_.empty()) message += " (" + error_ + ")";
  error_.clear();
  throw ImageError(message);
}

void TTiffSession::Close() {
  const bool flushed = TIFFFlush(tiff_.get()) == 1;
  Check(flushed, "the TIFF file could not be completed");
  tiff_.reset();
  Check(true, "the TIFF file could not be completed");
}

}  // namespace sigilon
