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

/// A face file opened once; `size` is the character size last set on it.
struct LoadedFace {
  FacePtr face;
  FT_F26Dot6 size = 0;
};

/// What a logical font resolves to: the face and the styles to synthesise
/// because the family has no such face.
struct ResolvedFace {
  LoadedFace* loaded = nullptr;
  bool synthBold = false;
  bool synthItalic = false;
};

/// FreeType and fontconfig state shared by every canvas: faces stay open
/// across calls because opening and parsing a font for each picture of a
/// batch would cost more than drawing the text. Callers hold Mutex() while
/// they use it or any face it returns.
class FontEngine {
 public:
  static FontEngine& Instance();

  std::mutex& Mutex() { return mutex_; }
  FT_Library Library() const { return library_.get(); }

  /// The face a logical font selects; throws FontError when no scalable
  /// face can be found at all.
  ResolvedFace Resolve(const TLogFont& log);
  /// A face that has `cp`, for a character the chosen face lacks; null when
  /// no installed font has it.
  ResolvedFace Fallback(char32_t cp, int weight, bool italic);
  /// Sets the character (em) size of a face, in 26.6 pixels.
  static void SetEmSize(LoadedFace& face, FT_F26Dot6 em);

 private:
  FontEngine();
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

}  // namespace sigilon::drawing
