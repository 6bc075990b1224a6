#include "engine/FontAvailability.h"

#include <algorithm>
#include <array>
#include <memory>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/CanvasFontEngine.h"

namespace sigilon {
namespace {

struct ObjectSetDeleter {
  void operator()(FcObjectSet* set) const { FcObjectSetDestroy(set); }
};
struct FontSetDeleter {
  void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using drawing::FcPatternPtr;

// The names fontconfig's configuration maps to a family of its choice.
constexpr std::array<const char*, 10> kGenericFamilies = {
    "sans-serif", "sans",    "serif",   "monospace", "mono",
    "system-ui",  "cursive", "fantasy", "emoji",     "math"};

bool IsGenericFamily(const std::string& face) {
  const auto* name = reinterpret_cast<const FcChar8*>(face.c_str());
  return std::any_of(kGenericFamilies.begin(), kGenericFamilies.end(), [&](const char* generic) {
    return FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(generic)) == 0;
  });
}

// A pattern for the scalable faces of one family, as the drawing layer asks.
FcPatternPtr FamilyPattern(const std::string& face) {
  FcPatternPtr pattern(FcPatternCreate());
  if (!pattern) return pattern;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
  return pattern;
}

// Family names compare as fontconfig matches them: letter case and blanks
// aside.
bool FamilyInstalled(const std::string& face) {
  const FcPatternPtr pattern = FamilyPattern(face);
  const std::unique_ptr<FcObjectSet, ObjectSetDeleter> objects(
      FcObjectSetBuild(FC_FAMILY, static_cast<char*>(nullptr)));
  if (!pattern || !objects) return true;  // cannot tell: no false alarm
  const std::unique_ptr<FcFontSet, FontSetDeleter> fonts(
      FcFontList(nullptr, pattern.get(), objects.get()));
  return !fonts || fonts->nfont > 0;
}

std::string MatchedFamily(const std::string& face) {
  const FcPatternPtr pattern = FamilyPattern(face);
  if (!pattern) return {};
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  const FcPatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
  FcChar8* family = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch) return {};
  return reinterpret_cast<const char*>(family);
}

}  // namespace

std::optional<TMissingFace> FindMissingFace(const std::string& fontText) {
  // The face exactly as the drawing layer gets it (the default one when the
  // text names none, a long name cut).
  TFont font;
  TextToFont(fontText, font);
  const std::string& face = font.Name();
  if (face.empty() || IsGenericFamily(face) || FamilyInstalled(face)) return std::nullopt;
  return TMissingFace{face, MatchedFamily(face)};
}

std::string MissingFaceText(const TMissingFace& missing) {
  return "font \"" + missing.Face + "\" is not installed; fontconfig substitutes \"" +
         missing.Substitute + "\"";
}

}  // namespace sigilon
