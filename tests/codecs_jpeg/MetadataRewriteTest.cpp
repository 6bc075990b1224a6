// The EXIF and XMP rewrites on hand-laid structures: thumbnails wherever a
// TIFF structure may put them, damaged directories after IFD0, and the ways
// XML may state an orientation or hold a preview.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/ExifRewrite.h"
#include "engine/XmpRewrite.h"
#include "tests/support/JpegSegments.h"

namespace sigilon {
namespace {

using test::TTiffWriter;

bool Holds(const std::vector<std::byte>& bytes, const std::string& text) {
  return std::ranges::search(bytes, test::Payload(text)).begin() != bytes.end();
}

// IFD0 at 200 says Orientation 6 and keeps a copyright text at 240; each case
// lays out what follows its link in a 400-byte structure.
TEST(ExifRewriteTest, ThumbnailsAreWipedWhereverTheyLieAndIfd0Stays) {
  const std::string copyright = "(c) Studio Nord 2026";
  struct TDirectory {
    std::uint32_t at;
    std::vector<std::array<std::uint32_t, 4>> entries;
    std::uint32_t next = 0;
    std::size_t claimed = 0;
  };
  const struct {
    const char* name;
    std::uint32_t ifd1;
    std::vector<TDirectory> directories;
    // Texts standing for thumbnail bytes; values, SHORTs from 380 on.
    std::vector<std::pair<std::size_t, std::string>> texts;
    std::vector<std::pair<std::size_t, std::uint32_t>> values = {};
  } cases[] = {
      {"thumbnail before IFD0",
       300,
       {{300, {{0x0201, 4, 1, 8}, {0x0202, 4, 1, 16}}}},
       {{8, "THUMB-BEFORE-IFD"}}},
      {"thumbnail length that wraps in 32 bits",
       300,
       {{300, {{0x0201, 4, 1, 340}, {0x0202, 4, 1, 0xFFFFFFFF}}}},
       {{340, "THUMB-TO-THE-END"}}},
      {"three strips, one before IFD0",
       300,
       {{300, {{0x0111, 4, 3, 360}, {0x0117, 3, 3, 380}}}},
       {{20, "STRIP-01"}, {100, "STRIP-02"}, {270, "STRIP-03"}},
       {{360, 20}, {364, 100}, {368, 270}, {380, 8}, {382, 8}, {384, 8}}},
      {"strip length that wraps in 32 bits",
       300,
       {{300, {{0x0111, 4, 1, 350}, {0x0117, 4, 1, 0xFFFFFFF0}}}},
       {{350, "THUMB-STRIP"}}},
      {"a second preview in IFD2",
       300,
       {{300, {{0x0201, 4, 1, 20}, {0x0202, 4, 1, 10}}, 330},
        {330, {{0x0201, 4, 1, 100}, {0x0202, 4, 1, 12}}}},
       {{20, "THUMB-IFD1"}, {100, "PREVIEW-IFD2"}}},
      {"IFD1 chained to itself",
       300,
       {{300, {{0x0201, 4, 1, 20}, {0x0202, 4, 1, 10}}, 300}},
       {{20, "THUMB-LOOP"}}},
      {"IFD1 cut in its third entry",
       370,
       {{370, {{0x0201, 4, 1, 20}, {0x0202, 4, 1, 10}}, 0, 3}},
       {{20, "THUMB-CUT!"}}},
      {"IFD1 past the end", 0x7FFF, {}, {}},
  };
  for (bool bigEndian : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (bigEndian ? ", MM" : ", II"));
      TTiffWriter tiff(bigEndian, 400, 200);
      tiff.Directory(200, {{0x0112, 3, 1, 6}, {0x8298, 2, 21, 240}}, c.ifd1);
      tiff.Text(240, copyright);
      for (const TDirectory& d : c.directories) tiff.Directory(d.at, d.entries, d.next, d.claimed);
      for (const auto& [at, text] : c.texts) tiff.Text(at, text);
      for (const auto& [at, value] : c.values) tiff.Put(at, value, at < 380 ? 4 : 2);
      const std::vector<std::byte> exif = tiff.Exif();
      const TExifRewrite read = RewriteExif(std::span(exif).subspan(6));
      EXPECT_EQ(read.Orientation, 6);
      ASSERT_TRUE(read.Cleared) << "a damaged IFD1 does not cost IFD0";
      for (const char* piece : {"THUMB", "STRIP", "PREVIEW"})
        EXPECT_FALSE(Holds(*read.Cleared, piece));
      EXPECT_TRUE(Holds(*read.Cleared, copyright));
      // Read again: upright, no link after IFD0, nothing more to clear.
      const TExifRewrite again = RewriteExif(*read.Cleared);
      EXPECT_EQ(again.Orientation, 1);
      EXPECT_EQ(again.Cleared, read.Cleared);
    }
  }
}

TEST(XmpRewriteTest, OrientationIsFoundHoweverXmlStatesItAndPreviewsGo) {
  const std::string tiff = "xmlns:tiff='http://ns.adobe.com/tiff/1.0/'";
  const std::string rdf = "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'";
  const std::string img = "xmlns:xmpGImg='http://ns.adobe.com/xap/1.0/g/img/'";
  const struct {
    std::string packet;
    std::optional<std::string> cleared;
  } cases[] = {
      {"<d " + tiff + " tiff:Orientation = \"6\"/>", "<d " + tiff + " tiff:Orientation = \"1\"/>"},
      {"<d " + tiff + " tiff:Orientation\n=\t'8'/>", "<d " + tiff + " tiff:Orientation\n=\t'1'/>"},
      {"<d " + tiff + "><tiff:Orientation >6</tiff:Orientation ></d>",
       "<d " + tiff + "><tiff:Orientation >1</tiff:Orientation ></d>"},
      {"<d " + tiff + "><tiff:Orientation>\n 06 \n</tiff:Orientation></d>",
       "<d " + tiff + "><tiff:Orientation>\n 1 \n</tiff:Orientation></d>"},
      // Nested in a description of a description, the prefix left unbound.
      {"<a><b><tiff:Orientation><![CDATA[3]]><!-- x --></tiff:Orientation></b></a>",
       "<a><b><tiff:Orientation>1<!-- x --></tiff:Orientation></b></a>"},
      {"<d xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Orientation='5'/>",
       "<d xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Orientation='1'/>"},
      {"<d xmlns='http://ns.adobe.com/tiff/1.0/'><Orientation>7</Orientation></d>",
       "<d xmlns='http://ns.adobe.com/tiff/1.0/'><Orientation>1</Orientation></d>"},
      {"<d " + tiff + " " + rdf +
           "><tiff:Orientation><rdf:value>6</rdf:value></tiff:Orientation></d>",
       "<d " + tiff + " " + rdf +
           "><tiff:Orientation><rdf:value>1</rdf:value></tiff:Orientation></d>"},
      // Preview images as photo software stores them, in either form.
      {"<d " + img +
           "><t><rdf:li><xmpGImg:width>256</xmpGImg:width><xmpGImg:image>\n/9j/4AAQ\n"
           "</xmpGImg:image></rdf:li></t></d>",
       "<d " + img +
           "><t><rdf:li><xmpGImg:width>256</xmpGImg:width><xmpGImg:image>\n\n"
           "</xmpGImg:image></rdf:li></t></d>"},
      {"<d " + img + " " + tiff + " xmpGImg:image='/9j/4AAQ' tiff:Orientation='3'/>",
       "<d " + img + " " + tiff + " xmpGImg:image='' tiff:Orientation='1'/>"},
      // Not an orientation: another namespace, a comment, an attribute's
      // text, an unprefixed attribute, a blank value.
      {"<d xmlns:tiff='urn:other' tiff:Orientation='6'/>",
       "<d xmlns:tiff='urn:other' tiff:Orientation='6'/>"},
      {"<!-- <tiff:Orientation>6</tiff:Orientation> --><d a='tiff:Orientation=\"6\"'/>",
       "<!-- <tiff:Orientation>6</tiff:Orientation> --><d a='tiff:Orientation=\"6\"'/>"},
      {"<d " + tiff + " Orientation='6' tiff:Orientation=' '/>",
       "<d " + tiff + " Orientation='6' tiff:Orientation=' '/>"},
      // Not XML that can be read with confidence.
      {"<d " + tiff + " tiff:Orientation='6/>", std::nullopt},
      {"<d " + tiff + " tiff:Orientation=6/>", std::nullopt},
      {"<!DOCTYPE d [<!ENTITY six '6'>]><d><tiff:Orientation>&six;</tiff:Orientation></d>",
       std::nullopt},
      {"<d><!-- left open", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.packet);
    const std::optional<std::string> cleared = ClearXmp(c.packet);
    EXPECT_EQ(cleared, c.cleared);
    if (!cleared) continue;
    const auto statements = FindXmpStatements(*cleared);
    ASSERT_TRUE(statements);
    for (const TXmpSpan& v : statements->Orientation) {
      EXPECT_EQ(cleared->substr(v.Begin, v.End - v.Begin), "1");
    }
    EXPECT_TRUE(statements->Thumbnails.empty());
  }
}

}  // namespace
}  // namespace sigilon
