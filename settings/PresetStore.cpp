#include "settings/PresetStore.h"

#include <string_view>
#include <utility>

#include "settings/ConfigurationFile.h"

namespace sigilon {

namespace {

constexpr std::string_view kPresetPrefix = "Preset.";
constexpr std::string_view kHexDigits = "0123456789abcdef";

// Lower-case digits only: the store compares keys without regard to case.
std::string EntryName(const std::string& name) {
  std::string entry(kPresetPrefix);
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    entry += kHexDigits[byte >> 4];
    entry += kHexDigits[byte & 0xF];
  }
  return entry;
}

// The preset name of an entry name, or nothing for another entry.
std::optional<std::string> PresetName(const std::string& entry) {
  if (!entry.starts_with(kPresetPrefix)) return std::nullopt;
  const std::string_view digits = std::string_view(entry).substr(kPresetPrefix.size());
  if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
  std::string name;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const auto high = kHexDigits.find(digits[i]);
    const auto low = kHexDigits.find(digits[i + 1]);
    if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
    name += static_cast<char>(high * 16 + low);
  }
  return name;
}

}  // namespace

std::vector<std::string> PresetNames(const TConfigurationFile& store) {
  std::vector<std::string> names;
  for (const std::string& entry : store.Names()) {
    if (auto name = PresetName(entry)) names.push_back(std::move(*name));
  }
  return names;
}

std::optional<std::string> ReadPreset(const TConfigurationFile& store, const std::string& name) {
  const std::string entry = EntryName(name);
  if (!store.HasValue(entry)) return std::nullopt;
  return store.ReadValue(entry);
}

void WritePreset(TConfigurationFile& store, const std::string& name, const std::string& text) {
  store.WriteValue(EntryName(name), text);
}

void RemovePreset(TConfigurationFile& store, const std::string& name) {
  store.RemoveValue(EntryName(name));
}

}  // namespace sigilon
