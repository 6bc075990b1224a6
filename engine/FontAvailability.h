#pragma once
/// Whether the brand font's face is installed. fontconfig answers every face
/// name with some font, so a machine without the face draws another one and
/// writes different pictures without a word; a batch spread over many
/// machines asks this first and says so.

#include <optional>
#include <string>

namespace sigilon {

/// A face that is not installed, and the family drawn in its place.
struct TMissingFace {
  std::string Face;
  std::string Substitute;
};

/// The face of the font description text `fontText` when no scalable font of
/// that family is installed. Nothing when it is, and for a generic family
/// (sans-serif, serif, monospace, ...), which stands for whatever the
/// machine's configuration picks. Throws ConvertError when the text cannot be
/// read.
std::optional<TMissingFace> FindMissingFace(const std::string& fontText);

/// `font "FACE" is not installed; fontconfig substitutes "SUBSTITUTE"`: the
/// one wording for every front end.
std::string MissingFaceText(const TMissingFace& missing);

}  // namespace sigilon
