#pragma once
// The FreeType and fontconfig state behind the drawing layer's text
// (internal to the engine): faces found by fontconfig, opened once and kept
// with their last character size.

#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

#include "engine/Canvas.h"

namespace sigilon::drawing {

struct FaceDeleter {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceDeleter>;
struct LibraryDeleter {
  void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using LibraryPtr = std::unique_ptr<FT_LibraryRec_, LibraryDeleter>;
struct FcConfigDeleter {
  void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
struct FcPatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct FcCharSetDeleter {
  void operator()(FcCharSet* set) const { FcCharSetDestroy(set); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

/// A face file opened once, with the character size last set on it. Its
/// FreeType face is reached only through a LockedFontEngine.
class LoadedFace {
  friend class FontEngine;
  friend class LockedFontEngine;
  FacePtr face_;
  FT_F26Dot6 size_ = 0;
};

/// What a logical font resolves to: the face and the styles to synthesise
/// because the family has no such face.
struct ResolvedFace {
  LoadedFace* loaded = nullptr;
  bool synthBold = false;
  bool synthItalic = false;
};

class LockedFontEngine;

/// FreeType and fontconfig state shared by every canvas: faces stay open
/// across calls because opening and parsing a font for each picture of a
/// batch would cost more than drawing the text. FreeType faces may be used
/// by one thread at a time, so the engine is reached only through Lock().
class FontEngine {
 public:
  /// The engine with its lock held for the life of the handle.
  static LockedFontEngine Lock();

 private:
  friend class LockedFontEngine;
  FontEngine();
  static FontEngine& Instance();
  static void AddStyle(FcPattern* pattern, int weight, bool italic);
  ResolvedFace Match(FcPattern* pattern, bool bold, bool italic);
  LoadedFace* Open(const std::string& file, int index);

  std::mutex mutex_;
  // Declared before the faces so that it is destroyed after them.
  LibraryPtr library_;
  std::unique_ptr<FcConfig, FcConfigDeleter> config_;
  std::map<std::pair<std::string, int>, std::unique_ptr<LoadedFace>> faces_;
  std::map<std::tuple<std::string, int, bool, TFontPitch>, ResolvedFace> resolved_;
  std::map<std::tuple<char32_t, int, bool>, ResolvedFace> fallbacks_;
};

/// The font engine while this thread holds its lock: the only way to the
/// faces. Faces it hands out may be used only while it lives; keep it no
/// longer than the FreeType calls on them take.
class LockedFontEngine {
 public:
  LockedFontEngine(const LockedFontEngine&) = delete;
  LockedFontEngine& operator=(const LockedFontEngine&) = delete;

  /// The face a logical font selects; throws FontError when no scalable
  /// face can be found at all.
  ResolvedFace Resolve(const TLogFont& log);
  /// A face that has `cp`, for a character the chosen face lacks; null when
  /// no installed font has it.
  ResolvedFace Fallback(char32_t cp, int weight, bool italic);
  /// The FreeType face of a resolved font, at its last character size.
  FT_Face Face(const ResolvedFace& resolved) const { return resolved.loaded->face_.get(); }
  /// The FreeType face of a resolved font at the character (em) size `em`,
  /// in 26.6 pixels.
  FT_Face Sized(const ResolvedFace& resolved, FT_F26Dot6 em);

 private:
  friend class FontEngine;
  explicit LockedFontEngine(FontEngine& engine) : engine_(engine), lock_(engine.mutex_) {}

  FontEngine& engine_;
  std::unique_lock<std::mutex> lock_;
};

}  // namespace sigilon::drawing
