#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/Errors.h"
#include "engine/formats/TiffCodec.h"

namespace sigilon {

namespace {

using TMemory = TTiffSession::TMemory;

TMemory& MemoryOf(thandle_t handle) { return *static_cast<TMemory*>(handle); }

std::uint64_t SizeOf(const TMemory& memory) {
  return memory.Out != nullptr ? memory.Out->size() : memory.In.size();
}

// A writer reads back what it wrote (to link a page to the one before).
tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  TMemory& memory = MemoryOf(handle);
  const std::byte* bytes = memory.Out != nullptr ? memory.Out->data() : memory.In.data();
  if (size < 0 || memory.At >= SizeOf(memory)) return 0;
  const auto n =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), SizeOf(memory) - memory.At);
  std::memcpy(buffer, bytes + memory.At, n);
  memory.At += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  TMemory& memory = MemoryOf(handle);
  if (memory.Out == nullptr || size < 0) return -1;
  const std::uint64_t end = memory.At + static_cast<std::uint64_t>(size);
  try {
    if (end > memory.Out->size()) memory.Out->resize(end);
  } catch (...) {
    // libtiff reports the short write; nothing may unwind through it.
    return -1;
  }
  std::memcpy(memory.Out->data() + memory.At, buffer, static_cast<std::size_t>(size));
  memory.At = end;
  return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  TMemory& memory = MemoryOf(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory.At;
  if (whence == SEEK_END) base = SizeOf(memory);
  memory.At = base + offset;
  return memory.At;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return SizeOf(MemoryOf(handle)); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

std::string Formatted(const char* module, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  std::string message = text;
  if (module != nullptr && *module != '\0') message = std::string(module) + ": " + message;
  return message;
}

}  // namespace

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

TTiffSession::TTiffSession(std::span<const std::byte> file, std::string name)
    : name_(std::move(name)) {
  memory_.In = file;
  // 'm': our bytes are in memory already.
  Open("rm");
}

TTiffSession::TTiffSession(std::vector<std::byte>& out, std::string name) : name_(std::move(name)) {
  memory_.Out = &out;
  // Classic TIFF holds 4 GB, more than the largest picture the caps admit.
  Open("w");
}

TTiffSession::~TTiffSession() = default;

void TTiffSession::Open(const char* mode) {
  const std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                             TIFFOpenOptionsFree);
  if (!options) throw ImageError(name_ + ": TIFF: out of memory");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxTiffSingleAlloc));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, this);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, this);
  tiff_.reset(TIFFClientOpenExt(name_.c_str(), mode, &memory_, ReadProc, WriteProc, SeekProc,
                                CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
  Check(tiff_ != nullptr, "not a readable TIFF file");
}

void TTiffSession::Check(bool ok, const char* what) {
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
