#pragma once
/// What an XMP packet states that a branded copy must not carry as it is,
/// found by reading the packet as XML: the orientation (tiff:Orientation as
/// an attribute, any spacing around `=`, either quote, or as an element's
/// text, on rdf:Description or nested anywhere) and preview images of the
/// picture (xmpGImg:image, the base64 thumbnails photo software stores).
/// Names count by namespace, or by their usual prefix left unbound;
/// rdf:value inside such an element counts as its value. The same reading
/// gives the text of any other property. Pure functions that never throw.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sigilon {

/// A property's name: `Local` in namespace `Namespace`, or under
/// `UsualPrefix` where the packet leaves that prefix unbound.
struct TXmpProperty {
  std::string_view Namespace;
  std::string_view UsualPrefix;
  std::string_view Local;
};

/// Where a value lies in the packet: [Begin, End).
struct TXmpSpan {
  std::size_t Begin = 0;
  std::size_t End = 0;
};

/// Values in packet order: attribute values without their quotes, an
/// element's text from its first to its last non-blank character (comments
/// or CDATA sections between included). Blank values state nothing.
struct TXmpStatements {
  std::vector<TXmpSpan> Orientation;
  std::vector<TXmpSpan> Thumbnails;
};

/// What `packet` states; nothing when it does not read as XML: a tag,
/// comment, CDATA section or quoted value left open, or a document type with
/// declarations of its own.
std::optional<TXmpStatements> FindXmpStatements(std::string_view packet);

/// `packet` with every orientation rewritten as 1 and every preview image
/// emptied, the rest byte for byte; nothing when it does not read as XML.
/// Never longer than `packet`.
std::optional<std::string> ClearXmp(std::string_view packet);

/// The first value `packet` states for `property` (an attribute's, an
/// element's text, or the first rdf:li of the rdf:Seq, rdf:Bag or rdf:Alt it
/// holds) as text: entity and character references decoded, CDATA sections
/// unwrapped, comments left out. Nothing when the packet does not read as
/// XML, states no value, or the first value holds other markup.
std::optional<std::string> ReadXmpText(std::string_view packet, const TXmpProperty& property);

}  // namespace sigilon
