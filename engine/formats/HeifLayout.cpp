#include "engine/formats/HeifLayout.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/ByteReader.h"
#include "engine/formats/HeifBoxes.h"
#include "engine/formats/HeifCodedSize.h"

namespace sigilon {

namespace {

// More derived pictures than this is a collection, not a photograph.
constexpr std::size_t kMaxDerivedPictures = 64;
// A derived picture made of derived pictures: an identity over a grid is
// met, deeper chains are loops.
constexpr int kMaxNesting = 4;
// A grid's or an overlay's canvas size comes in its first 20 bytes.
constexpr std::size_t kDescriptionBytes = 20;

struct TSize {
  std::uint64_t Width = 0;
  std::uint64_t Height = 0;
};

struct TDerived {
  TFourCC Type = 0;
  std::vector<std::uint32_t> Inputs;
  std::vector<std::byte> Description;
};

struct TLayout {
  std::map<std::uint32_t, TDerived> Derived;
  std::map<std::uint32_t, TSize> Sizes;
  // Every picture's type, and the coded ones ('hvc1' or 'av01') apart.
  std::map<std::uint32_t, TFourCC> Types;
  std::map<std::uint32_t, TFourCC> Coded;
  // The auxiliary pictures (alpha, depth) of each picture.
  std::multimap<std::uint32_t, std::uint32_t> Auxiliaries;
  // The primary picture and every picture decoded to make it.
  std::set<std::uint32_t> Decoded;
  // The codec configuration and the data of each decoded coded picture.
  std::map<std::uint32_t, std::span<const std::byte>> Configs;
  std::map<std::uint32_t, std::vector<std::byte>> Data;
};

bool IsDerived(TFourCC type) {
  return type == FourCC("grid") || type == FourCC("iovl") || type == FourCC("iden");
}

bool IsCoded(TFourCC type) { return type == FourCC("hvc1") || type == FourCC("av01"); }

TFourCC ConfigType(TFourCC codedType) {
  return codedType == FourCC("hvc1") ? FourCC("hvcC") : FourCC("av1C");
}

std::string Id(std::uint32_t id) { return "picture " + std::to_string(id); }

void ReadItemTypes(std::span<const std::byte> iinf, const std::string& name, TLayout& layout) {
  ByteReader header(iinf, name);
  const unsigned version = header.U8("item list");
  header.Skip(3 + (version == 0 ? 2 : 4), "item list");
  ForEachBox(iinf.subspan(header.Position()), name, "item list",
             [&](TFourCC type, std::span<const std::byte> body) {
               if (type != FourCC("infe")) return;
               ByteReader infe(body, name);
               const unsigned infeVersion = infe.U8("item entry");
               // Entries before version 2 carry no type, so no derived picture.
               if (infeVersion < 2) return;
               infe.Skip(3, "item entry");
               const std::uint32_t id =
                   infeVersion == 2 ? infe.U16BE("item entry") : infe.U32BE("item entry");
               infe.Skip(2, "item entry");
               const TFourCC itemType = infe.U32BE("item entry");
               layout.Types[id] = itemType;
               if (IsCoded(itemType)) layout.Coded[id] = itemType;
               if (!IsDerived(itemType)) return;
               if (layout.Derived.size() == kMaxDerivedPictures && !layout.Derived.contains(id)) {
                 infe.Fail("expected at most " + std::to_string(kMaxDerivedPictures) +
                           " derived pictures, found more");
               }
               layout.Derived[id].Type = itemType;
             });
}

void ReadInputs(std::span<const std::byte> iref, const std::string& name, TLayout& layout) {
  ByteReader header(iref, name);
  const bool wide = header.U8("item references") != 0;
  header.Skip(3, "item references");
  ForEachBox(iref.subspan(4), name, "item references",
             [&](TFourCC type, std::span<const std::byte> body) {
               ByteReader reference(body, name);
               const auto id = [&] {
                 return wide ? reference.U32BE("item reference")
                             : std::uint32_t{reference.U16BE("item reference")};
               };
               const std::uint32_t from = id();
               const auto derived = layout.Derived.find(from);
               if (type == FourCC("auxl")) {
                 const unsigned count = reference.U16BE("item reference");
                 for (unsigned i = 0; i < count; ++i) layout.Auxiliaries.emplace(id(), from);
               }
               if (type != FourCC("dimg") || derived == layout.Derived.end()) return;
               const unsigned count = reference.U16BE("item reference");
               for (unsigned i = 0; i < count; ++i) derived->second.Inputs.push_back(id());
             });
}

// The primary picture, the pictures a derived one is made of and their
// auxiliary pictures, as far as they reach.
void FindDecoded(std::uint32_t primary, TLayout& layout) {
  std::vector<std::uint32_t> pending{primary};
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    if (!layout.Decoded.insert(id).second) continue;
    const auto derived = layout.Derived.find(id);
    if (derived != layout.Derived.end()) {
      pending.insert(pending.end(), derived->second.Inputs.begin(), derived->second.Inputs.end());
    }
    const auto [first, last] = layout.Auxiliaries.equal_range(id);
    for (auto auxiliary = first; auxiliary != last; ++auxiliary) {
      pending.push_back(auxiliary->second);
    }
  }
}

// The sizes ('ispe') of the derived pictures, of the pictures they are made
// of and of the decoded ones, and the codec configurations of the latter.
void ReadSizes(std::span<const std::byte> iprp, const std::string& name, TLayout& layout) {
  std::set<std::uint32_t> wanted = layout.Decoded;
  for (const auto& [id, derived] : layout.Derived) {
    wanted.insert(id);
    wanted.insert(derived.Inputs.begin(), derived.Inputs.end());
  }
  std::map<unsigned, TSize> sizeProperties;
  std::map<unsigned, std::pair<TFourCC, std::span<const std::byte>>> configProperties;
  std::span<const std::byte> ipma;
  ForEachBox(iprp, name, "item properties", [&](TFourCC type, std::span<const std::byte> body) {
    if (type == FourCC("ipma") && ipma.empty()) ipma = body;
    if (type != FourCC("ipco")) return;
    unsigned index = 0;
    ForEachBox(body, name, "item properties", [&](TFourCC property, std::span<const std::byte> p) {
      ++index;
      if (property == FourCC("hvcC") || property == FourCC("av1C")) {
        configProperties[index] = {property, p};
      }
      if (property != FourCC("ispe")) return;
      ByteReader ispe(p, name);
      ispe.Skip(4, "size box");
      const std::uint64_t width = ispe.U32BE("size box");
      sizeProperties[index] = {width, ispe.U32BE("size box")};
    });
  });
  if (ipma.empty()) return;
  ByteReader reader(ipma, name);
  const unsigned version = reader.U8("property associations");
  reader.Skip(2, "property associations");
  const bool wideIndex = (reader.U8("property associations") & 1) != 0;
  const std::uint32_t entries = reader.U32BE("property associations");
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t id =
        version < 1 ? reader.U16BE("property associations") : reader.U32BE("property associations");
    const unsigned count = reader.U8("property associations");
    for (unsigned j = 0; j < count; ++j) {
      const unsigned index = wideIndex ? reader.U16BE("property associations") & 0x7FFFu
                                       : reader.U8("property associations") & 0x7Fu;
      // Only the configuration of the picture's own codec is decoded with.
      const auto config = configProperties.find(index);
      const auto coded = layout.Coded.find(id);
      if (config != configProperties.end() && coded != layout.Coded.end() &&
          layout.Decoded.contains(id) && config->second.first == ConfigType(coded->second)) {
        layout.Configs.emplace(id, config->second.second);
      }
      const auto size = sizeProperties.find(index);
      if (size == sizeProperties.end() || !wanted.contains(id)) continue;
      const auto [known, added] = layout.Sizes.emplace(id, size->second);
      if (!added && (known->second.Width != size->second.Width ||
                     known->second.Height != size->second.Height)) {
        reader.Fail("expected one size for " + Id(id) + ", found two");
      }
    }
  }
}

// The first bytes of each derived picture's description and the data of
// each decoded coded picture, from the file or from the idat box.
void ReadLocations(std::span<const std::byte> iloc, std::span<const std::byte> idat,
                   std::span<const std::byte> file, const std::string& name, TLayout& layout) {
  ByteReader reader(iloc, name);
  const unsigned version = reader.U8("item locations");
  reader.Skip(3, "item locations");
  const unsigned sizes = reader.U8("item locations");
  const unsigned more = reader.U8("item locations");
  const unsigned offsetBytes = sizes >> 4;
  const unsigned lengthBytes = sizes & 15;
  const unsigned baseBytes = more >> 4;
  const unsigned indexBytes = version >= 1 ? more & 15 : 0;
  const std::uint32_t items =
      version < 2 ? reader.U16BE("item locations") : reader.U32BE("item locations");
  std::set<std::uint32_t> located;
  // Extents may overlap: pictures that repeat the file's bytes would cost
  // far more than it holds.
  std::uint64_t collected = 0;
  for (std::uint32_t i = 0; i < items; ++i) {
    const std::uint32_t id =
        version < 2 ? reader.U16BE("item locations") : reader.U32BE("item locations");
    const unsigned method = version >= 1 ? reader.U16BE("item locations") & 15 : 0;
    reader.Skip(2, "item locations");
    const std::uint64_t base = SizedField(reader, baseBytes, "item locations");
    const unsigned extents = reader.U16BE("item locations");
    const auto derived = layout.Derived.find(id);
    const bool coded = layout.Coded.contains(id) && layout.Decoded.contains(id);
    const bool wanted = derived != layout.Derived.end() || coded;
    if (wanted && !located.insert(id).second) {
      reader.Fail("expected one location for " + Id(id) + ", found more");
    }
    if (wanted && method > 1) {
      reader.Fail(Id(id) +
                  ": expected its data in the file or its idat box, found "
                  "construction method " +
                  std::to_string(method));
    }
    const std::span<const std::byte> source = method == 1 ? idat : file;
    for (unsigned e = 0; e < extents; ++e) {
      SizedField(reader, indexBytes, "item locations");
      const std::uint64_t offset = base + SizedField(reader, offsetBytes, "item locations");
      std::uint64_t length = SizedField(reader, lengthBytes, "item locations");
      if (!wanted) continue;
      if (offset > source.size() || length > source.size() - offset) {
        reader.Fail(Id(id) + ": expected its data within the " + std::to_string(source.size()) +
                    " bytes that hold it, found " + std::to_string(length) + " bytes at offset " +
                    std::to_string(offset));
      }
      if (length == 0) length = source.size() - offset;
      const auto from = source.begin() + static_cast<std::ptrdiff_t>(offset);
      if (coded) {
        collected += length;
        if (collected > file.size() + idat.size()) {
          reader.Fail("expected the pictures' data within the file's " +
                      std::to_string(file.size()) + " bytes, found more");
        }
        std::vector<std::byte>& data = layout.Data[id];
        data.insert(data.end(), from, from + static_cast<std::ptrdiff_t>(length));
        continue;
      }
      std::vector<std::byte>& description = derived->second.Description;
      const std::size_t taken =
          std::min<std::uint64_t>(length, kDescriptionBytes - description.size());
      description.insert(description.end(), from, from + static_cast<std::ptrdiff_t>(taken));
    }
  }
}

TLayout ReadLayout(std::span<const std::byte> meta, std::span<const std::byte> file,
                   const std::string& name) {
  TLayout layout;
  if (meta.size() < 4) return layout;
  std::map<TFourCC, std::span<const std::byte>> boxes;
  ForEachBox(meta.subspan(4), name, "meta box",
             [&](TFourCC type, std::span<const std::byte> body) { boxes.emplace(type, body); });
  const auto box = [&](const char(&type)[5]) {
    const auto found = boxes.find(FourCC(type));
    return found == boxes.end() ? std::span<const std::byte>() : found->second;
  };
  if (box("iinf").empty()) return layout;
  ReadItemTypes(box("iinf"), name, layout);
  if (!box("iref").empty()) ReadInputs(box("iref"), name, layout);
  if (box("pitm").size() >= 4) {
    ByteReader pitm(box("pitm"), name);
    const bool wide = pitm.U8("primary picture") != 0;
    pitm.Skip(3, "primary picture");
    FindDecoded(wide ? pitm.U32BE("primary picture") : pitm.U16BE("primary picture"), layout);
  }
  if (!box("iprp").empty()) ReadSizes(box("iprp"), name, layout);
  if (!box("iloc").empty()) ReadLocations(box("iloc"), box("idat"), file, name, layout);
  return layout;
}

// Sizes are 32-bit fields: their product, and its sum with a count within
// the cap, cannot wrap.
std::uint64_t Pixels(const TSize& size) { return size.Width * size.Height; }

// Throws unless `pixels` is within the pixel cap and the file's bytes.
void CheckClaim(std::uint64_t pixels, std::uint64_t fileBytes, std::uint64_t maxPixelsPerByte,
                const std::string& what) {
  if (pixels > kMaxPixels) {
    throw ImageError(what + ": expected at most " + std::to_string(kMaxPixels) + " pixels, found " +
                     std::to_string(pixels));
  }
  if (pixels > fileBytes * maxPixelsPerByte) {
    throw ImageError(what + ": a " + std::to_string(fileBytes) + "-byte file holds at most " +
                     std::to_string(maxPixelsPerByte) + " pixels per byte, found " +
                     std::to_string(pixels) + " pixels");
  }
}

TSize CanvasOf(const TDerived& derived, const std::string& what) {
  ByteReader reader(derived.Description, what);
  const unsigned version = reader.U8("description");
  if (version != 0) reader.Fail("expected description version 0, found " + std::to_string(version));
  const bool wide = (reader.U8("description") & 1) != 0;
  reader.Skip(derived.Type == FourCC("grid") ? 2 : 8, "description");
  const std::uint64_t width = SizedField(reader, wide ? 4 : 2, "canvas size");
  return {width, SizedField(reader, wide ? 4 : 2, "canvas size")};
}

void CheckGrid(const TDerived& grid, const TSize& canvas, const TLayout& layout,
               const std::string& what) {
  const std::uint64_t rows = static_cast<std::uint8_t>(grid.Description[2]) + 1u;
  const std::uint64_t columns = static_cast<std::uint8_t>(grid.Description[3]) + 1u;
  if (grid.Inputs.size() != rows * columns) {
    throw ImageError(what + ": expected " + std::to_string(rows) + " x " + std::to_string(columns) +
                     " tiles, found " + std::to_string(grid.Inputs.size()));
  }
  const TSize tile = layout.Sizes.at(grid.Inputs.front());
  for (const std::uint32_t input : grid.Inputs) {
    const TSize size = layout.Sizes.at(input);
    if (size.Width != tile.Width || size.Height != tile.Height) {
      throw ImageError(what + ": expected every tile of " + std::to_string(tile.Width) + " x " +
                       std::to_string(tile.Height) + " pixels, found " + Id(input) + " of " +
                       std::to_string(size.Width) + " x " + std::to_string(size.Height));
    }
  }
  if (columns * tile.Width < canvas.Width || rows * tile.Height < canvas.Height ||
      (columns - 1) * tile.Width >= canvas.Width || (rows - 1) * tile.Height >= canvas.Height) {
    throw ImageError(what + ": expected " + std::to_string(rows) + " x " + std::to_string(columns) +
                     " tiles of " + std::to_string(tile.Width) + " x " +
                     std::to_string(tile.Height) + " pixels to cover its canvas of " +
                     std::to_string(canvas.Width) + " x " + std::to_string(canvas.Height));
  }
}

void CheckNesting(const TLayout& layout, std::uint32_t id, int depth, const std::string& name) {
  if (depth > kMaxNesting) {
    throw ImageError(name + ": expected derived pictures nested at most " +
                     std::to_string(kMaxNesting) + " deep, found " + Id(id) + " deeper");
  }
  for (const std::uint32_t input : layout.Derived.at(id).Inputs) {
    if (layout.Derived.contains(input)) CheckNesting(layout, input, depth + 1, name);
  }
}

void CheckLayout(const TLayout& layout, std::uint64_t fileBytes, std::uint64_t maxPixelsPerByte,
                 const std::string& name) {
  std::set<std::uint32_t> drawn;
  for (const auto& [id, derived] : layout.Derived) {
    const std::string what = name + ": derived " + Id(id);
    CheckNesting(layout, id, 0, name);
    if (derived.Inputs.empty()) {
      throw ImageError(what + ": expected the pictures it is made of, found none");
    }
    // Each input is decoded once per use: a picture used again and again
    // would cost far more than the file holds.
    std::uint64_t inputPixels = 0;
    for (const std::uint32_t input : derived.Inputs) {
      if (!drawn.insert(input).second) {
        throw ImageError(what + ": expected each picture drawn once, found " + Id(input) +
                         " again");
      }
      const auto size = layout.Sizes.find(input);
      if (size == layout.Sizes.end()) {
        throw ImageError(what + ": expected a size for " + Id(input) + ", found none");
      }
      inputPixels += Pixels(size->second);
      CheckClaim(inputPixels, fileBytes, maxPixelsPerByte, what + "'s pictures together");
    }
    if (derived.Type == FourCC("iden")) continue;
    const TSize canvas = CanvasOf(derived, what);
    if (canvas.Width == 0 || canvas.Height == 0) {
      throw ImageError(what + ": expected a canvas size, found " + std::to_string(canvas.Width) +
                       " x " + std::to_string(canvas.Height));
    }
    CheckClaim(Pixels(canvas), fileBytes, maxPixelsPerByte,
               what + "'s canvas of " + std::to_string(canvas.Width) + " x " +
                   std::to_string(canvas.Height));
    if (derived.Type == FourCC("grid")) CheckGrid(derived, canvas, layout, what);
  }
}

// Throws unless each decoded coded picture declares frames in its stream
// that match its size box and are within the caps: a decoder allocates what
// the stream says, not what the box says.
void CheckCodedSizes(const TLayout& layout, std::uint64_t fileBytes, std::uint64_t maxPixelsPerByte,
                     const std::string& name) {
  // libheif 1.15 aborts the process on a derived picture made of a picture
  // it has no decoder for, or of none at all.
  for (const std::uint32_t id : layout.Decoded) {
    const auto type = layout.Types.find(id);
    if (type == layout.Types.end() || (!IsCoded(type->second) && !IsDerived(type->second))) {
      throw ImageError(
          name + ": " + Id(id) +
          ": expected a HEVC, AV1, grid, overlay or identity picture, found " +
          (type == layout.Types.end() ? std::string("none") : FourCCText(type->second)));
    }
  }
  for (const auto& [id, type] : layout.Coded) {
    if (!layout.Decoded.contains(id)) continue;
    const std::string what = name + ": " + Id(id);
    const bool hevc = type == FourCC("hvc1");
    const std::string codec = hevc ? "HEVC" : "AV1";
    const auto size = layout.Sizes.find(id);
    if (size == layout.Sizes.end()) throw ImageError(what + ": expected a size, found none");
    const auto config = layout.Configs.find(id);
    if (config == layout.Configs.end()) {
      throw ImageError(what + ": expected its " + codec + " configuration, found none");
    }
    const TSize claimed = size->second;
    std::span<const std::byte> stream;
    if (const auto data = layout.Data.find(id); data != layout.Data.end()) stream = data->second;
    bool found = false;
    const auto check = [&](const TCodedSize& frame) {
      found = true;
      const std::string frameSize =
          std::to_string(frame.Width) + " x " + std::to_string(frame.Height);
      CheckClaim(frame.Width * frame.Height, fileBytes, maxPixelsPerByte,
                 what + "'s coded frame of " + frameSize);
      // Some writers give a quarter-turned picture's size turned.
      if (!CropsTo(frame, claimed.Width, claimed.Height) &&
          !CropsTo(frame, claimed.Height, claimed.Width)) {
        throw ImageError(what + ": expected " + codec + " frames of its size, " +
                         std::to_string(claimed.Width) + " x " + std::to_string(claimed.Height) +
                         " (at most " + std::to_string(kMaxCroppedPixels) +
                         " pixels more each way), found " + frameSize);
      }
    };
    (hevc ? ForEachHevcFrameSize : ForEachAv1FrameSize)(config->second, stream, what, check);
    if (!found) {
      throw ImageError(what + ": expected the frame size in its " + codec + " stream, found none");
    }
  }
}

}  // namespace

void CheckHeifPictureSizes(std::span<const std::byte> file, std::uint64_t maxPixelsPerByte,
                           const std::string& name) {
  // Every meta box of the file's outer level: libheif reads the last one.
  ForEachBox(
      file, name, "file",
      [&](TFourCC type, std::span<const std::byte> body) {
        if (type != FourCC("meta")) return;
        const TLayout layout = ReadLayout(body, file, name);
        CheckLayout(layout, file.size(), maxPixelsPerByte, name);
        CheckCodedSizes(layout, file.size(), maxPixelsPerByte, name);
      },
      true);
}

}  // namespace sigilon
