#pragma once
/// The seam every picture type plugs into: what a format module offers to
/// read a file's header, metadata and rows (in bands where the type allows),
/// to write rows, and to say how it is branded. One module per type
/// (JpegFormat, BmpFormat, ...); FormatRegistry picks one by the file name.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/BrandOptions.h"

namespace sigilon {

/// Takes the next bytes of an encoded file, in order; may throw, and the
/// exception reaches the caller of the writer unchanged.
using TPictureSink = std::function<void(std::span<const std::byte>)>;

/// Bytes already given to a sink, rewritten or read back `offset` bytes
/// from the file's start: for a type whose header points ahead to what
/// follows it (TIFF). Either may throw, as the sink may.
struct TPictureRevisit {
  std::function<void(std::uint64_t offset, std::span<const std::byte> bytes)> WriteAt{};
  std::function<std::size_t(std::uint64_t offset, std::span<std::byte> buffer)> ReadAt{};
};

/// A sink, and its revisit, that keep the file in `file`.
TPictureSink MemorySink(std::vector<std::byte>& file);
TPictureRevisit MemoryRevisit(std::vector<std::byte>& file);

/// What a file says about its pixels before they are decoded.
struct TPictureHeader {
  /// Size as stored, before any turn the orientation asks for.
  int Width = 0;
  int Height = 0;
  /// Bits of one sample as stored (1 to 16; for a palette, of one index).
  /// Rows come in the pixel format the reader's bands have, whatever the
  /// depth.
  int BitsPerSample = 8;
};

/// What a file says besides its pixels, in a form any format can carry.
struct TPictureMetadata {
  /// EXIF orientation 1..8: how the stored pixels must be turned to stand
  /// upright (1: as stored).
  int Orientation = 1;
  /// The whole ICC colour profile; empty when there is none. Every copy
  /// carries it.
  std::vector<std::byte> IccProfile{};
  enum class TKind { Exif, Xmp, Iptc };
  /// One block of picture information, as a JPEG application segment holds
  /// it, signature included: "Exif\0\0" and a TIFF structure, XMP's
  /// namespace and packet, "Photoshop 3.0\0" and resources with IPTC.
  struct TItem {
    TKind Kind = TKind::Exif;
    std::vector<std::byte> Payload{};
  };
  /// The picture information a copy carries when asked to, in file order,
  /// ready to write: upright (orientation 1) and without thumbnails.
  std::vector<TItem> Information{};
  /// How the source's pixels were compressed, in words any writer may
  /// understand ("none", "lzw", "deflate", "packbits", "jpeg"); empty where
  /// the type has no choice. A writer that offers the same keeps it.
  std::string Compression{};
  /// The pixels are stored without loss in a type that also has a lossy
  /// kind (WebP): a copy in the same type is stored without loss too.
  bool Lossless = false;
  /// A HEIF picture's colours described by code points instead of a
  /// profile (nclx): primaries, transfer, matrix, full range (0 or 1);
  /// empty when there are none. A HEIF copy carries them.
  std::vector<int> ColourCodes{};
  /// How a PNG describes its colours besides a profile: the sRGB chunk's
  /// rendering intent (0 to 3; -1 without one), gAMA as the file gamma
  /// times 100000 (0 without one), and cHRM's white point and red, green and
  /// blue primaries as x, y pairs times 100000 (empty without one). A PNG
  /// copy carries them as it carries the profile, since viewers show the
  /// colours by them.
  struct TPngColour {
    int SrgbIntent = -1;
    int Gamma = 0;
    std::vector<int> Chromaticities{};
  };
  TPngColour PngColour{};
  /// A PNG's text entries (title, author, comment ...), other than those
  /// that hold XMP or a raw profile (which may hide an unbranded
  /// thumbnail). A PNG copy carries them with the picture information.
  struct TText {
    std::string Key;
    std::string Text;
    /// Stored compressed (zTXt, or a compressed iTXt).
    bool Compressed = false;
    /// Stored as UTF-8 (iTXt), with its language and translated key.
    bool International = false;
    std::string Language{};
    std::string TranslatedKey{};
  };
  std::vector<TText> Texts{};
};

/// How a file is read.
struct TReadSpec {
  std::string Path;
  /// What the display shows: at 8 bits or fewer a JPEG decodes to a palette.
  TDisplayInfo Display{};
};

/// How a file is written.
struct TWriteSpec {
  /// Starts every error message (the source's path).
  std::string Name;
  int Width = 0;
  int Height = 0;
  /// The source's bits per sample (TPictureHeader), kept by a writer that
  /// can store them for the pixel format it is given.
  int BitsPerSample = 8;
  /// The source's metadata: the profile always, the picture information
  /// when KeepMetadata is set.
  const TPictureMetadata* Metadata = nullptr;
  bool KeepMetadata = false;
  /// Encoding split in two halves (EncodeBand on any thread, WriteEncoded
  /// in picture order), where the writer can (SplitsEncoding).
  bool SplitEncoding = false;
  /// The pixel format of the rows the writer is given, where the caller
  /// knows it before the first (OpenBandWriterFor): a writer may split the
  /// encoding of some formats only.
  std::optional<TPixelFormat> RowFormat{};
  /// Quality of a lossy type, 1 to 100, or kDefaultQuality for the type's
  /// own default.
  int Quality = kDefaultQuality;
  /// Entropy coding made for the picture where the type has a choice (JPEG's
  /// Huffman tables): smaller, the same pixels.
  bool Optimize = false;
  /// The further pages of a multi-page picture (TWholePicture::MorePages),
  /// stamped and upright, written after the first by a type that holds pages.
  std::span<const TBitmap> MorePages{};
  /// Band writers of a type that holds pages: how many the file gets, the
  /// first Width x Height, each further one begun by TBandWriter::NextPage.
  int Pages = 1;
  /// How the sink's bytes are revisited, for a writer that must (TIFF);
  /// such a writer fails without it.
  TPictureRevisit Revisit{};
};

/// Rows of a band for a picture of `width` x `height`: about a megabyte of
/// pixels, in whole groups of 16 rows, at most the picture. Branding reads
/// and writes streaming pictures in bands of this many rows.
int BandRows(int width, int height);

/// A file's rows read band by band from its top, in little memory whatever
/// the picture's size.
class TBandReader {
 public:
  virtual ~TBandReader() = default;
  virtual const TPictureHeader& Header() const = 0;
  virtual const TPictureMetadata& Metadata() const = 0;
  /// Rows handed out so far.
  virtual int NextRow() const = 0;
  /// A zeroed band `rows` high (at least 1) in the decoded pixel format,
  /// with the decoded palette where there is one.
  virtual TBitmap NewBand(int rows) const = 0;
  /// Reads the next rows into `band` (made by NewBand) from its top, until
  /// it is full or the picture ends; returns how many rows it holds now.
  virtual int ReadBand(TBitmap& band) = 0;
  /// As ReadBand, into rows `firstRow` to `firstRow + rows` of `picture`
  /// (made by NewBand, at least that high), leaving its other rows alone.
  virtual int ReadRows(TBitmap& picture, int firstRow, int rows) = 0;
  /// Ends reading once every row has been read.
  virtual void Finish() = 0;
  /// What was wrong with data that decoded only in part, each text once.
  virtual std::vector<std::string> Warnings() const = 0;
  /// Pages of a multi-page file; reading starts with the first.
  virtual int Pages() const { return 1; }
  /// Once a page is read and finished, moves to the next: Header, Metadata
  /// and rows are then that page's, from its top. Throws ImageError.
  virtual void NextPage();
};

/// Half-encoded rows (TBandWriter::EncodeBand): the writer's own kind.
class TEncodedBand {
 public:
  virtual ~TEncodedBand() = default;
};

/// A file written band by band from the top, its bytes going out as they
/// are made.
class TBandWriter {
 public:
  virtual ~TBandWriter() = default;
  /// Writes the first `rows` rows of `band` as the next rows of the picture.
  virtual void WriteBand(const TBitmap& band, int rows) = 0;
  /// As WriteBand, with rows `firstRow` to `firstRow + rows` of `picture`.
  virtual void WriteRows(const TBitmap& picture, int firstRow, int rows) = 0;
  /// Completes the file after the last row.
  virtual void Finish() = 0;
  /// Writers of a type that holds pages: after the last row of a page,
  /// begins the next, `width` x `height`.
  virtual void NextPage(int width, int height);
  /// Whether the encoding was split (asked by TWriteSpec::SplitEncoding and
  /// offered by the writer); only then are the three calls below made.
  virtual bool SplitsEncoding() const { return false; }
  virtual std::unique_ptr<TEncodedBand> NewEncodedBand() const;
  /// The first half of encoding the first `rows` rows of `band`, which are
  /// the picture's rows from `pictureRow` on. Leaves the writer as it is:
  /// another thread may encode while this one writes.
  virtual void EncodeBand(const TBitmap& band, int rows, int pictureRow,
                          TEncodedBand& encoded) const;
  /// Writes encoded rows as the next rows of the picture.
  virtual void WriteEncoded(const TEncodedBand& encoded);
};

/// A picture decoded whole, with what its file said.
struct TWholePicture {
  TBitmap Picture;
  TPictureMetadata Metadata{};
  std::vector<std::string> Warnings{};
  /// A multi-page file's further pages, each already upright; each copy
  /// stamps them as it stamps Picture.
  std::vector<TBitmap> MorePages{};
};

/// One picture type. Formats that stream offer band readers and writers;
/// the others read and write the whole picture at once.
class TPictureFormat {
 public:
  virtual ~TPictureFormat() = default;
  /// The type's name in messages ("JPEG").
  virtual std::string_view Name() const = 0;
  /// File name extensions, upper case with the dot (".JPG").
  virtual std::span<const std::string_view> Extensions() const = 0;
  /// Whether rows are read and written in bands; else the picture is held
  /// whole.
  virtual bool Streams() const = 0;
  /// Whether the stamped picture is handed to the preview.
  virtual bool Previews() const = 0;
  /// Whether a file holds several pages, each one branded and written.
  virtual bool HoldsPages() const { return false; }
  /// Whether the writer takes pictures of `pixelFormat` as they are; a copy
  /// converted from another type reaches it in 24 bits otherwise.
  virtual bool Writes(TPixelFormat pixelFormat) const;

  /// Streaming formats: reads the header and metadata and gets ready to
  /// read rows. Throws ImageError (not a picture of this type) or
  /// PlatformError (an unreadable file); the others throw ImageError.
  virtual std::unique_ptr<TBandReader> OpenBandReader(const TReadSpec& request) const;
  /// Streaming formats: starts a file that goes to `sink`.
  virtual std::unique_ptr<TBandWriter> OpenBandWriter(const TWriteSpec& request,
                                                      TPictureSink sink) const;

  /// Reads and decodes the whole file; by default band by band.
  virtual TWholePicture ReadWhole(const TReadSpec& request) const;
  /// Encodes the whole `picture` as a complete file; by default band by
  /// band. `request`'s size is the picture's.
  virtual std::vector<std::byte> EncodeWhole(const TBitmap& picture,
                                             const TWriteSpec& request) const;
};

/// `format`'s band writer for rows of `pixelFormat`, which may be another
/// type's (a converted copy): rows the writer does not take as they are
/// (TPictureFormat::Writes) reach it in 24 bits.
std::unique_ptr<TBandWriter> OpenBandWriterFor(const TPictureFormat& format,
                                               TPixelFormat pixelFormat, const TWriteSpec& request,
                                               TPictureSink sink);

/// `format`'s encoding of the whole `picture`, converted to 24 bits first
/// when the writer does not take its pixel format as it is.
std::vector<std::byte> EncodeWholeFor(const TPictureFormat& format, const TBitmap& picture,
                                      const TWriteSpec& request);

}  // namespace sigilon
