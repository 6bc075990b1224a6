#pragma once
/// The user's named presets in the configuration store: one entry per
/// preset, "Preset." and the name's bytes in hexadecimal, so that a name of
/// any characters (an "=", a line break, letters that differ only in case)
/// comes back as it was given. The stored text is the caller's.

#include <optional>
#include <string>
#include <vector>

namespace sigilon {

class TConfigurationFile;

/// The current user's preset names, in the store's order (the last saved
/// last).
std::vector<std::string> PresetNames(const TConfigurationFile& store);
/// The text stored under `name`, or nothing.
std::optional<std::string> ReadPreset(const TConfigurationFile& store, const std::string& name);
/// Stores `text` under `name`, replacing a preset of that name; in memory.
void WritePreset(TConfigurationFile& store, const std::string& name, const std::string& text);
/// Drops the preset `name`, in memory.
void RemovePreset(TConfigurationFile& store, const std::string& name);

}  // namespace sigilon
