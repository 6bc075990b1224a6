#include "settings/ConfigurationFile.h"

#include <QString>
#include <QStringDecoder>
#include <span>
#include <utility>

#include "platform/Platform.h"
#include "settings/Scrambling.h"

namespace sigilon {

namespace {

/// The key inputs of the scrambling. Every stored file depends on all three:
/// they must never change.
constexpr const char* kScrambleApplicationName = "Sigilon";
constexpr const char* kScrambleVersion = "1.0";
constexpr const char* kScrambleKey = "5E2A7C14-9B3D-4F61-A8C2-0D47E95B31F6";

constexpr const char* kHeaderName = "KESTRO CONFIGURATION FILE";
constexpr const char* kHeaderValue = "YES";
constexpr const char* kLineEnd = "\r\n";

std::string& ApplicationTitleText() {
  // The engine-free tools never set a title; they still find "Sigilon.cfg".
  static std::string title = "Sigilon";
  return title;
}

/// Splits at CR LF, CR or LF; empty lines carry no entry and are dropped.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    if (i > start) lines.emplace_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += kLineEnd;
  }
  return text;
}

/// The entry lines of a decoded text, which ends at its first zero byte.
std::vector<std::string> PlainLines(const std::string& plain) {
  return SplitLines(std::string_view(plain).substr(0, plain.find('\0')));
}

bool ToQString(const std::string& text, QString& result) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  result = decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  return !decoder.hasError();
}

bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

/// Keys compare without regard to letter case, also beyond ASCII. Text that
/// is not valid UTF-8 falls back to ASCII folding, so two different invalid
/// byte runs never look equal.
bool KeysEqual(std::string_view a, std::string_view b) {
  if (AsciiEqualIgnoringCase(a, b)) return true;
  QString qa, qb;
  if (!ToQString(std::string(a), qa) || !ToQString(std::string(b), qb)) return false;
  return QString::compare(qa, qb, Qt::CaseInsensitive) == 0;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// The current user's keys begin with this, in any letter case.
bool IsUserKey(std::string_view key, const std::string& prefix) {
  return key.size() > prefix.size() && KeysEqual(key.substr(0, prefix.size()), prefix);
}

/// The index of the current user's entry `name`, or -1.
std::ptrdiff_t FindEntry(const std::vector<std::string>& lines, const std::string& name) {
  const std::string key = CurrentUserName() + "." + name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto equals = lines[i].find('=');
    if (equals == std::string::npos) continue;
    if (KeysEqual(std::string_view(lines[i]).substr(0, equals), key)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

}  // namespace

void SetApplicationTitle(const std::string& title) { ApplicationTitleText() = title; }

std::string ApplicationTitle() { return ApplicationTitleText(); }

TConfigurationFile::TConfigurationFile() : fileName_(ApplicationTitle() + ".cfg") {}

TConfigurationFile::TConfigurationFile(std::string path)
    : fileName_(FileNameOf(path)), path_(std::move(path)) {}

TConfigurationFile::~TConfigurationFile() = default;

bool TConfigurationFile::Load() {
  try {
    const std::vector<std::byte> bytes = ReadWholeFile(Path(), kMaxConfigurationFileBytes);
    const std::string raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Until the text unscrambles, the list holds the file's own lines.
    lines_ = SplitLines(raw);
    const std::string plain =
        DecodeText(kScrambleApplicationName, kScrambleVersion, kScrambleKey, JoinLines(lines_));
    // Every decoded line is kept, also when the current user has no header:
    // they are other users' settings, and the next Save writes them back.
    lines_ = PlainLines(plain);
    return HasValue(kHeaderName);
  } catch (...) {
    return false;
  }
}

bool TConfigurationFile::Save() {
  try {
    if (!HasValue(kHeaderName)) WriteValue(kHeaderName, kHeaderValue);
    const std::string plain = JoinLines(lines_);
    const std::string stored =
        EncodeText(kScrambleApplicationName, kScrambleVersion, kScrambleKey, plain) + kLineEnd;
    // The old file stays whole until the new one is complete.
    ReplaceFileAtomically(Path(), std::as_bytes(std::span(stored)));
    // Hold what a following Load would give: a value with a line break is
    // now two lines.
    lines_ = PlainLines(plain);
    return true;
  } catch (...) {
    return false;
  }
}

std::string TConfigurationFile::Path() const {
  return path_.empty() ? StartDirectory() + fileName_ : path_;
}

bool TConfigurationFile::HasValue(const std::string& name) const {
  return FindEntry(lines_, name) >= 0;
}

std::string TConfigurationFile::ReadValue(const std::string& name) const {
  const auto index = FindEntry(lines_, name);
  if (index < 0) return std::string();
  const std::string& line = lines_[static_cast<std::size_t>(index)];
  return line.substr(line.find('=') + 1);
}

void TConfigurationFile::WriteValue(const std::string& name, const std::string& value) {
  const auto index = FindEntry(lines_, name);
  if (index >= 0) lines_.erase(lines_.begin() + index);
  lines_.push_back(CurrentUserName() + "." + name + "=" + value);
}

void TConfigurationFile::RemoveValue(const std::string& name) {
  const auto index = FindEntry(lines_, name);
  if (index >= 0) lines_.erase(lines_.begin() + index);
}

std::vector<std::string> TConfigurationFile::Names() const {
  const std::string prefix = CurrentUserName() + ".";
  std::vector<std::string> names;
  for (const std::string& line : lines_) {
    const std::string_view key = std::string_view(line).substr(0, line.find('='));
    if (line.find('=') != std::string::npos && IsUserKey(key, prefix)) {
      names.emplace_back(key.substr(prefix.size()));
    }
  }
  return names;
}

}  // namespace sigilon
