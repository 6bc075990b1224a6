#pragma once
/// The orientation an XMP packet states, found by reading the packet as XML:
/// tiff:Orientation as an attribute (any spacing around `=`, either quote)
/// or as an element's text, on rdf:Description or nested anywhere, its
/// prefix bound to the TIFF namespace or the usual `tiff` unbound; rdf:value
/// inside such an element counts as its value. Pure functions that never
/// throw.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sigilon {

/// Where a value lies in the packet: [Begin, End).
struct TXmpSpan {
  std::size_t Begin = 0;
  std::size_t End = 0;
};

/// The orientation values `packet` states, in packet order: attribute values
/// without their quotes, an element's text from its first to its last
/// non-blank character (comments or CDATA sections between included). Blank
/// values state nothing. Nothing when the packet does not read as XML: a
/// tag, comment, CDATA section or quoted value left open, or a document type
/// with declarations of its own.
std::optional<std::vector<TXmpSpan>> FindXmpOrientation(std::string_view packet);

/// `packet` with every orientation value rewritten as 1, the rest byte for
/// byte; nothing when it does not read as XML. Never longer than `packet`.
std::optional<std::string> ClearXmpOrientation(std::string_view packet);

}  // namespace sigilon
