// The brand text's fields filled in from a file's name, place and tags.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/BrandFields.h"
#include "engine/PictureTags.h"
#include "platform/Platform.h"
#include "tests/support/JpegSegments.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

// A TIFF structure with IFD0 (Artist, Copyright, a link to the EXIF IFD)
// and an EXIF IFD holding DateTimeOriginal, texts after the directories.
std::vector<std::byte> ExifWithTags(bool bigEndian, const std::string& artist,
                                    const std::string& copyright, const std::string& taken) {
  std::string tiff;
  const auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      tiff += static_cast<char>((v >> (bigEndian ? 8 * (bytes - 1 - i) : 8 * i)) & 0xFF);
    }
  };
  const std::uint32_t ifd0 = 8, exifIfd = ifd0 + 2 + 3 * 12 + 4;
  const std::uint32_t texts = exifIfd + 2 + 12 + 4;
  const std::uint32_t copyrightAt = texts + static_cast<std::uint32_t>(artist.size() + 1);
  const std::uint32_t takenAt = copyrightAt + static_cast<std::uint32_t>(copyright.size() + 1);
  tiff += bigEndian ? "MM" : "II";
  put(42, 2);
  put(ifd0, 4);
  put(3, 2);
  for (const auto [tag, type, count, value] :
       {std::array<std::uint32_t, 4>{0x013B, 2, std::uint32_t(artist.size() + 1), texts},
        {0x8298, 2, std::uint32_t(copyright.size() + 1), copyrightAt},
        {0x8769, 4, 1, exifIfd}}) {
    put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
  }
  put(0, 4);
  put(1, 2);
  put(0x9003, 2), put(2, 2), put(std::uint32_t(taken.size() + 1), 4), put(takenAt, 4);
  put(0, 4);
  for (const std::string& text : {artist, copyright, taken}) tiff += text + '\0';
  return test::Payload(std::string("Exif\0\0", 6) + tiff);
}

TPictureMetadata WithExif(std::vector<std::byte> exif) {
  TPictureMetadata metadata;
  metadata.Information.push_back({TPictureMetadata::TKind::Exif, std::move(exif)});
  return metadata;
}

TEST(BrandFields, FillsInNamesBracesAndWarnsOfTheRest) {
  TFieldValues values{.Name = "beach.2026.jpg",
                      .Stem = "beach.2026",
                      .Folder = "Summer",
                      .Date = "2026-07-14",
                      .Artist = "Ann Lee",
                      .Copyright = std::nullopt,
                      .Number = 12};
  std::vector<std::string> warnings;
  EXPECT_EQ(ExpandFields("{name}|{stem}|{folder}|{date}|{year}|{artist}|#{n}", values, warnings),
            "beach.2026.jpg|beach.2026|Summer|2026-07-14|2026|Ann Lee|#12");
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(ExpandFields("{{name}} }} {{", values, warnings), "{name} } {");
  EXPECT_TRUE(warnings.empty());
  // What the picture lacks, what no field is, and a brace never closed: an
  // empty text and a warning each, the rest as it is.
  EXPECT_EQ(ExpandFields("(c) {copyright}{bogus}, {n", values, warnings), "(c) , {n");
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_NE(warnings[0].find("{copyright}"), std::string::npos);
  EXPECT_NE(warnings[1].find("{bogus}"), std::string::npos);
  warnings.clear();
  values.Number.reset();
  values.Date.reset();
  EXPECT_EQ(ExpandFields("{n}{year}{}", values, warnings), "");
  EXPECT_EQ(warnings.size(), 3u);
}

TEST(BrandFields, TagsComeFromExifElseXmpElseTheFile) {
  for (const bool bigEndian : {false, true}) {
    const TFieldValues values = FileFieldValues(
        "/photos/Trip 2026/IMG_0001.JPG",
        WithExif(ExifWithTags(bigEndian, "Ann Lee ", std::string("(c) Ann Lee\0Editor", 18),
                              "2025:12:31 23:59:58")),
        3);
    EXPECT_EQ(values.Name, "IMG_0001.JPG");
    EXPECT_EQ(values.Stem, "IMG_0001");
    EXPECT_EQ(values.Folder, "Trip 2026");
    EXPECT_EQ(values.Date, "2025-12-31") << bigEndian;
    EXPECT_EQ(values.Artist, "Ann Lee");
    EXPECT_EQ(values.Copyright, "(c) Ann Lee");
    EXPECT_EQ(values.Number, 3);
  }
  // No EXIF: the XMP creator and rights; the date of the file itself.
  test::TempDirectory temp;
  const std::string path = temp.Path() + "/plain.bmp";
  WriteWholeFile(path, test::Payload("x"));
  TPictureMetadata metadata;
  metadata.Information.push_back(
      {TPictureMetadata::TKind::Xmp,
       test::Payload(std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                     "<rdf:Description><dc:creator><rdf:Seq><rdf:li>Bo &amp; Co</rdf:li>"
                     "</rdf:Seq></dc:creator><dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">"
                     "All rights</rdf:li></rdf:Alt></dc:rights></rdf:Description>")});
  const TFieldValues plain = FileFieldValues(path, metadata, 0);
  EXPECT_EQ(plain.Artist, "Bo & Co");
  EXPECT_EQ(plain.Copyright, "All rights");
  const auto today = FileModificationDate(path);
  ASSERT_TRUE(today);
  ASSERT_TRUE(plain.Date);
  EXPECT_EQ(plain.Date->substr(0, 4), std::to_string(today->Year));
  EXPECT_EQ(plain.Date->size(), 10u);
  EXPECT_FALSE(plain.Number);
  // A clockless camera's zero date, and EXIF that lies about its offsets.
  const TFieldValues zero =
      FileFieldValues(path, WithExif(ExifWithTags(false, "A", "C", "0000:00:00 00:00:00")), 0);
  EXPECT_EQ(zero.Date, plain.Date);
  std::vector<std::byte> broken = ExifWithTags(false, "A", "C", "2020:01:02 03:04:05");
  broken.resize(30);
  const TFieldValues damaged = FileFieldValues(path, WithExif(broken), 0);
  EXPECT_EQ(damaged.Date, plain.Date);
}

TEST(BrandFields, OneUnreadableExifTextCostsNoOther) {
  std::vector<std::byte> exif = ExifWithTags(true, "Ann Lee", "(c) Ann", "2020:01:02 03:04:05");
  // Artist's value offset (IFD0's first entry) points past the data.
  std::fill_n(exif.begin() + 6 + 8 + 2 + 8, 4, std::byte{0xFF});
  const TPictureTags tags = ReadPictureTags(WithExif(exif));
  EXPECT_FALSE(tags.Artist);
  EXPECT_EQ(tags.Copyright, "(c) Ann");
  EXPECT_EQ(tags.DateTimeOriginal, "2020:01:02 03:04:05");
}

// XMP's creator and rights are read as XML, where a text search goes wrong.
TEST(BrandFields, XmpCreatorAndRightsAreReadAsXml) {
  const std::string dc = "xmlns:dc='http://purl.org/dc/elements/1.1/'";
  const struct {
    std::string packet;
    std::optional<std::string> artist, copyright;
  } cases[] = {
      {"<d " + dc + " dc:creator=' Ann &#169; Lee&#x21; ' dc:rights='A &amp; B &lt;C&gt;'/>",
       "Ann \u00A9 Lee!", "A & B <C>"},
      // A comment and a neighbour named alike come before the real ones.
      {"<!-- <dc:creator><rdf:Seq><rdf:li>Comment</rdf:li></rdf:Seq></dc:creator> -->"
       "<d><dc:creatorTool><rdf:Seq><rdf:li>Tool</rdf:li></rdf:Seq></dc:creatorTool>"
       "<dc:creator><rdf:Bag><rdf:li>Bo</rdf:li><rdf:li>Cy</rdf:li></rdf:Bag></dc:creator>"
       "<dc:rights><rdf:Alt><rdf:li xml:lang='x-default'><![CDATA[<All> & more]]></rdf:li>"
       "</rdf:Alt></dc:rights></d>",
       "Bo", "<All> & more"},
      // Dublin Core under another prefix; dc bound elsewhere is not it.
      {"<d xmlns:e='http://purl.org/dc/elements/1.1/' xmlns:dc='urn:other'>"
       "<dc:creator>Not</dc:creator><e:rights>Mine<!-- x --> too</e:rights></d>",
       std::nullopt, "Mine too"},
      // Bad references stay as written; markup or unreadable XML is no text.
      {"<d " + dc + " dc:creator='R&amp&#0;&#xD800;&bogus;'><dc:rights>x<b/>y</dc:rights></d>",
       "R&amp&#0;&#xD800;&bogus;", std::nullopt},
      {"<d " + dc + " dc:creator='Open>", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    TPictureMetadata metadata;
    metadata.Information.push_back(
        {TPictureMetadata::TKind::Xmp,
         test::Payload(std::string("http://ns.adobe.com/xap/1.0/\0", 29) + c.packet)});
    const TPictureTags tags = ReadPictureTags(metadata);
    EXPECT_EQ(tags.Artist, c.artist) << c.packet;
    EXPECT_EQ(tags.Copyright, c.copyright) << c.packet;
  }
}

}  // namespace
}  // namespace sigilon
