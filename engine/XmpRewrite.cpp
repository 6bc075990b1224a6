#include "engine/XmpRewrite.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <span>
#include <utility>

namespace sigilon {

namespace {

constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kImageNamespace = "http://ns.adobe.com/xap/1.0/g/img/";
constexpr TXmpProperty kRdfValue{kRdfNamespace, "rdf", "value"};
// What a branded copy rewrites: the orientation, then preview images.
constexpr std::array<TXmpProperty, 2> kRewritten{
    {{kTiffNamespace, "tiff", "Orientation"}, {kImageNamespace, "xmpGImg", "image"}}};
// XMP nests a handful of levels; deeper is not a packet worth reading.
constexpr std::size_t kMaxDepth = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsBlank(std::string_view text) {
  return std::ranges::all_of(text, [](char c) { return IsBlank(c); });
}

// Appends what a reference at the start of `text` stands for and returns
// its length; a lone '&' when it is none.
std::size_t AppendReference(std::string& out, std::string_view text) {
  static constexpr std::string_view kNamed[] = {"amp&", "lt<", "gt>", "quot\"", "apos'"};
  const std::size_t end = text.find(';');
  const std::string_view name = text.substr(1, end == std::string_view::npos ? 0 : end - 1);
  for (const std::string_view named : kNamed) {
    if (name == named.substr(0, named.size() - 1)) {
      out += named.back();
      return end + 1;
    }
  }
  if (name.starts_with('#')) {
    const bool hex = name.starts_with("#x");
    std::uint32_t c = 0;
    const char* last = name.data() + name.size();
    const auto read = std::from_chars(name.data() + (hex ? 2 : 1), last, c, hex ? 16 : 10);
    if (read.ec == std::errc{} && read.ptr == last && c != 0 && c <= 0x10FFFF &&
        (c < 0xD800 || c > 0xDFFF)) {
      // UTF-8: a lead byte that counts the continuation bytes after it.
      const int tail = (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
      out += static_cast<char>((tail == 0 ? 0 : (0xF0u << (3 - tail)) & 0xF0u) | (c >> (6 * tail)));
      for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
      return end + 1;
    }
  }
  out += '&';
  return 1;
}

// The text a value's span holds: references decoded, CDATA sections
// unwrapped, comments left out. Nothing when it holds other markup.
std::optional<std::string> Decoded(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    const std::string_view rest = raw.substr(i);
    const bool cdata = rest.starts_with("<![CDATA["), comment = rest.starts_with("<!--");
    if (cdata || comment) {
      const std::size_t end = rest.find(cdata ? "]]>" : "-->", 4);
      if (end == std::string_view::npos) return std::nullopt;
      if (cdata) out += rest.substr(9, end - 9);
      i += end + 3;
    } else if (rest[0] == '<') {
      return std::nullopt;
    } else if (rest[0] == '&') {
      i += AppendReference(out, rest);
    } else {
      out += raw[i++];
    }
  }
  return out;
}

struct TName {
  std::string_view Prefix;
  std::string_view Local;
};

TName Split(std::string_view qualified) {
  const std::size_t colon = qualified.find(':');
  if (colon == std::string_view::npos) return {{}, qualified};
  return {qualified.substr(0, colon), qualified.substr(colon + 1)};
}

struct TAttribute {
  std::string_view Name;
  TXmpSpan Value;
};

// Which of the wanted properties an element's value is, by its own name or
// the one it lies in.
using TRole = std::size_t;
constexpr TRole kNone = static_cast<TRole>(-1);

struct TElement {
  std::string_view Name;
  std::size_t Bindings;  // namespace bindings in force before this element
  TRole Role;
  // Its own text: first to last non-blank run.
  std::optional<TXmpSpan> Text;
};

struct TFound {
  TXmpSpan Span;
  TRole Role;
};

class TXmpReader {
 public:
  TXmpReader(std::string_view text, std::span<const TXmpProperty> wanted)
      : text_(text), wanted_(wanted) {}

  // The values of the wanted properties in packet order.
  std::optional<std::vector<TFound>> Read() {
    std::size_t pos = 0;
    while (pos < text_.size()) {
      const std::size_t open = std::min(text_.find('<', pos), text_.size());
      AddText(pos, open);
      if (open == text_.size()) break;
      const std::optional<std::size_t> next = Markup(open);
      if (!next) return std::nullopt;
      pos = *next;
    }
    while (!open_.empty()) Close();
    std::ranges::sort(found_, {}, [](const TFound& f) { return f.Span.Begin; });
    return std::move(found_);
  }

 private:
  // Reads the markup at `at` (a '<'); where reading goes on, nothing when
  // the markup is left open or cannot be read.
  std::optional<std::size_t> Markup(std::size_t at) {
    const std::string_view rest = text_.substr(at);
    if (rest.starts_with("<!--")) return After(at + 4, "-->");
    if (rest.starts_with("<![CDATA[")) {
      const auto end = After(at + 9, "]]>");
      // The whole section is the run, so that rewriting it leaves no half.
      if (end && !IsBlank(text_.substr(at + 9, *end - 3 - (at + 9)))) AddRun({at, *end});
      return end;
    }
    if (rest.starts_with("<?")) return After(at + 2, "?>");
    if (rest.starts_with("<!")) {
      const auto end = After(at + 2, ">");
      // Entities declared in the packet could spell any value.
      if (end && text_.substr(at, *end - at).find('[') != std::string_view::npos) return {};
      return end;
    }
    if (rest.starts_with("</")) {
      const auto end = After(at + 2, ">");
      if (end) EndTag(Trimmed(text_.substr(at + 2, *end - 1 - (at + 2))));
      return end;
    }
    return StartTag(at + 1);
  }

  std::optional<std::size_t> StartTag(std::size_t pos) {
    const std::size_t nameEnd = NameEnd(pos);
    if (nameEnd == pos || open_.size() >= kMaxDepth) return {};
    const std::string_view name = text_.substr(pos, nameEnd - pos);
    std::vector<TAttribute> attributes;
    pos = nameEnd;
    for (;;) {
      pos = SkipBlanks(pos);
      if (pos >= text_.size()) return {};
      if (text_[pos] == '>' || text_.substr(pos).starts_with("/>")) break;
      const std::size_t attributeEnd = NameEnd(pos);
      if (attributeEnd == pos) return {};
      const std::string_view attribute = text_.substr(pos, attributeEnd - pos);
      pos = SkipBlanks(attributeEnd);
      if (pos >= text_.size() || text_[pos] != '=') return {};
      pos = SkipBlanks(pos + 1);
      if (pos >= text_.size() || (text_[pos] != '"' && text_[pos] != '\'')) return {};
      const std::size_t close = text_.find(text_[pos], pos + 1);
      if (close == std::string_view::npos) return {};
      attributes.push_back({attribute, {pos + 1, close}});
      pos = close + 1;
    }

    // Bindings of the element hold for its own name and attributes.
    const std::size_t before = bindings_.size();
    for (const TAttribute& a : attributes) {
      const TName n = Split(a.Name);
      if (n.Prefix.empty() && n.Local == "xmlns") bindings_.emplace_back("", Span(a.Value));
      if (n.Prefix == "xmlns") bindings_.emplace_back(n.Local, Span(a.Value));
    }
    const TRole role =
        !open_.empty() && open_.back().Role != kNone ? open_.back().Role : RoleOf(name, true);
    for (const TAttribute& a : attributes) {
      TRole states = RoleOf(a.Name, false);
      if (role != kNone && Is(a.Name, kRdfValue, false)) states = role;
      if (states != kNone && !IsBlank(Span(a.Value))) found_.push_back({a.Value, states});
    }
    open_.push_back({name, before, role, std::nullopt});
    if (text_[pos] == '>') return pos + 1;
    Close();
    return pos + 2;
  }

  void EndTag(std::string_view name) {
    const auto match = std::find_if(open_.rbegin(), open_.rend(),
                                    [&](const TElement& e) { return e.Name == name; });
    // An end tag that closes nothing open is passed over.
    if (match == open_.rend()) return;
    for (auto n = match - open_.rbegin() + 1; n > 0; --n) Close();
  }

  void Close() {
    const TElement& element = open_.back();
    if (element.Role != kNone && element.Text) {
      // What lies inside the text is rewritten with it.
      std::erase_if(found_, [&](const TFound& f) {
        return f.Span.Begin >= element.Text->Begin && f.Span.End <= element.Text->End;
      });
      found_.push_back({*element.Text, element.Role});
    }
    bindings_.resize(element.Bindings);
    open_.pop_back();
  }

  void AddText(std::size_t begin, std::size_t end) {
    const std::string_view run = text_.substr(begin, end - begin);
    const auto first = std::ranges::find_if_not(run, [](char c) { return IsBlank(c); });
    if (first == run.end()) return;
    const auto last = std::find_if_not(run.rbegin(), run.rend(), [](char c) { return IsBlank(c); });
    AddRun({begin + (first - run.begin()), end - (last - run.rbegin())});
  }
  void AddRun(TXmpSpan run) {
    if (open_.empty()) return;
    std::optional<TXmpSpan>& text = open_.back().Text;
    text = TXmpSpan{text ? text->Begin : run.Begin, run.End};
  }

  TRole RoleOf(std::string_view qualified, bool element) const {
    for (TRole role = 0; role < wanted_.size(); ++role) {
      if (Is(qualified, wanted_[role], element)) return role;
    }
    return kNone;
  }

  // Whether a qualified name is the property's. Unprefixed attributes belong
  // to no namespace.
  bool Is(std::string_view qualified, const TXmpProperty& property, bool element) const {
    const TName n = Split(qualified);
    if (n.Local != property.Local || (n.Prefix.empty() && !element)) return false;
    const auto binding = std::find_if(bindings_.rbegin(), bindings_.rend(),
                                      [&](const auto& b) { return b.first == n.Prefix; });
    if (binding == bindings_.rend()) return n.Prefix == property.UsualPrefix;
    return binding->second == property.Namespace;
  }

  std::optional<std::size_t> After(std::size_t from, std::string_view end) const {
    const std::size_t at = text_.find(end, from);
    if (at == std::string_view::npos) return std::nullopt;
    return at + end.size();
  }
  std::size_t SkipBlanks(std::size_t pos) const {
    while (pos < text_.size() && IsBlank(text_[pos])) ++pos;
    return pos;
  }
  std::size_t NameEnd(std::size_t pos) const {
    while (pos < text_.size() && !IsBlank(text_[pos]) &&
           std::string_view("=/>\"'<").find(text_[pos]) == std::string_view::npos)
      ++pos;
    return pos;
  }
  std::string_view Trimmed(std::string_view name) const {
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    return name;
  }
  std::string_view Span(TXmpSpan s) const { return text_.substr(s.Begin, s.End - s.Begin); }

  std::string_view text_;
  std::span<const TXmpProperty> wanted_;
  std::vector<TElement> open_;
  std::vector<std::pair<std::string_view, std::string_view>> bindings_;
  std::vector<TFound> found_;
};

}  // namespace

std::optional<TXmpStatements> FindXmpStatements(std::string_view packet) {
  const auto found = TXmpReader(packet, kRewritten).Read();
  if (!found) return std::nullopt;
  TXmpStatements statements;
  for (const TFound& f : *found) {
    (f.Role == 0 ? statements.Orientation : statements.Thumbnails).push_back(f.Span);
  }
  return statements;
}

std::optional<std::string> ReadXmpText(std::string_view packet, const TXmpProperty& property) {
  const auto found = TXmpReader(packet, {&property, 1}).Read();
  if (!found || found->empty()) return std::nullopt;
  const TXmpSpan value = found->front().Span;
  return Decoded(packet.substr(value.Begin, value.End - value.Begin));
}

std::optional<std::string> ClearXmp(std::string_view packet) {
  const auto statements = FindXmpStatements(packet);
  if (!statements) return std::nullopt;
  std::vector<std::pair<TXmpSpan, std::string_view>> edits;
  for (const TXmpSpan& v : statements->Orientation) edits.emplace_back(v, "1");
  for (const TXmpSpan& v : statements->Thumbnails) edits.emplace_back(v, "");
  std::ranges::sort(edits, {}, [](const auto& e) { return e.first.Begin; });
  std::string out;
  out.reserve(packet.size());
  std::size_t copied = 0;
  for (const auto& [span, text] : edits) {
    out.append(packet.substr(copied, span.Begin - copied));
    out += text;
    copied = span.End;
  }
  out.append(packet.substr(copied));
  return out;
}

}  // namespace sigilon
