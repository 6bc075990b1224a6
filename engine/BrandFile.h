#pragma once
/// Branding of one picture file: decode, stamp the brand text (tiled at 45
/// degrees unless the look says otherwise), preview, encode, write, and say
/// what came of it.

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "engine/BrandOptions.h"
#include "engine/BrandOutcome.h"
#include "engine/FontText.h"

namespace sigilon {

class TBitmap;
class TFont;

/// Receives the stamped picture as the bytes of a complete bitmap file.
using TPreviewCallback = std::function<void(std::span<const std::byte>)>;

/// Brands one file through the format its extension names (any letter
/// case; the further types and spellings only with Options.AllTypes), written
/// in Options.WriteFormat when set, and says what came of it: Processed (with
/// the warnings of a damaged file branded as far as it decodes), Failed (with
/// the reason: "Permission denied", a codec's message, ...) or NotProcessable
/// (no format takes the name; the file is not opened). `preview` receives the
/// stamped picture as the bytes of a bitmap file, for formats that preview.
/// Only a font description text that cannot be read escapes (as
/// ConvertError), without an outcome.
TBrandOutcome BrandFile(const std::string& brandText, const std::string& fontText,
                        const std::string& sourcePath, const std::string& targetPath,
                        const TPreviewCallback& preview, const TBrandOptions& options = {});

/// Draws `text` on the bitmap as the look lays it out: by default over the
/// whole bitmap as rows of copies turned 45 degrees. Look values outside
/// their ranges are taken as the nearest in range.
void StampBrandText(const std::string& text, const TFont& font, TBitmap& bitmap,
                    const TStampLook& look = {});

/// Reads a font description text into a drawing font (drawing colour table).
void TextToFont(const std::string& text, TFont& font);

}  // namespace sigilon
