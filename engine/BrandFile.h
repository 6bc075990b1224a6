#pragma once
/// Branding of one picture file: decode, stamp the tiled 45-degree brand
/// text, preview, encode, write, and report one result line.

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "engine/BrandOptions.h"
#include "engine/FontText.h"

namespace sigilon {

class TBitmap;
class TFont;

/// Receives the stamped picture as the bytes of a complete bitmap file.
using TPreviewCallback = std::function<void(std::span<const std::byte>)>;

/// Brands one file. Sets `resultLine` to "Processed file: ", "Failed to
/// process file: " or "File type not processable: " followed by the source
/// path, and `failureReason` (when given) to why a file failed ("Permission
/// denied", a codec's message, ...), to what was wrong with a damaged JPEG
/// that was branded as far as it decodes (libjpeg's warnings), or to the
/// empty text. Only a font
/// description text that cannot be read escapes (as ConvertError), without a
/// result line.
void BrandFile(const std::string& brandText, const std::string& fontText,
               const std::string& sourcePath, const std::string& targetPath,
               const TPreviewCallback& preview, std::string& resultLine,
               const TBrandOptions& options = {}, std::string* failureReason = nullptr);

/// Draws `text` over the whole bitmap as rows of copies turned 45 degrees.
/// Look values outside their ranges are taken as the nearest in range.
void StampBrandText(const std::string& text, const TFont& font, TBitmap& bitmap,
                    const TStampLook& look = {});

/// Reads a font description text into a drawing font (drawing colour table).
void TextToFont(const std::string& text, TFont& font);

}  // namespace sigilon
