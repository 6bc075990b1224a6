// The walk over a JPEG file's marker segments: each kind of step on
// hand-made bytes, and the header read from a stream in pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/JpegMarkers.h"

namespace sigilon {
namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (const int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

TEST(JpegMarkers, StepsOverSegmentsFillBytesAndStandAloneMarkersToTheFirstScan) {
  using K = TJpegMarkerStep::TKind;
  // SOI, APP0 of 4 payload bytes, a fill byte, RST3, COM of 1 byte, SOS.
  const auto data = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x06, 1, 2,    3,    4,   0xFF,
                           0xFF, 0xD3, 0xFF, 0xFE, 0x00, 0x03, 9, 0xFF, 0xDA, 0x00});
  std::vector<std::pair<K, int>> steps;
  std::size_t at = 2;
  for (;;) {
    const TJpegMarkerStep step = NextJpegMarker(data, at);
    steps.emplace_back(step.Kind, step.Marker);
    if (step.Kind == K::End) break;
    ASSERT_GT(step.Next, at);
    if (step.Kind == K::Segment) {
      EXPECT_EQ(step.PayloadStart, at + 4);
    }
    at = step.Next;
  }
  EXPECT_EQ(steps, (std::vector<std::pair<K, int>>{{K::Segment, 0xE0},
                                                   {K::StandAlone, 0xFF},
                                                   {K::StandAlone, 0xD3},
                                                   {K::Segment, 0xFE},
                                                   {K::End, 0xDA}}));
  EXPECT_EQ(at, 18u);

  // Cut inside a marker or its length, the walk asks for more; a length
  // shorter than itself, or bytes that are no marker, end it.
  EXPECT_EQ(NextJpegMarker(Bytes({0xFF, 0xD8, 0xFF}), 2).Kind, K::NeedMore);
  EXPECT_EQ(NextJpegMarker(Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00}), 2).Kind, K::NeedMore);
  EXPECT_EQ(NextJpegMarker(Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01}), 2).Kind, K::End);
  EXPECT_EQ(NextJpegMarker(Bytes({0xFF, 0xD8, 0x12, 0x34}), 2).Kind, K::End);
}

TEST(JpegMarkers, HeaderBytesReachTheFirstScanAndLeaveTheRestToTheStream) {
  // A segment longer than one piece the stream hands out, then the scan.
  std::vector<std::byte> file = Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x27, 0x12});
  file.resize(file.size() + 0x2710, std::byte{7});
  const std::size_t scan = file.size();
  for (const int v : {0xFF, 0xDA, 0x00, 0x08}) file.push_back(static_cast<std::byte>(v));
  file.resize(scan + 50000, std::byte{1});
  std::size_t served = 0;
  const std::vector<std::byte> header = ReadJpegHeaderBytes([&](std::span<std::byte> buffer) {
    const std::size_t n = std::min(buffer.size(), file.size() - served);
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(served), n, buffer.begin());
    served += n;
    return n;
  });
  EXPECT_GE(header.size(), scan + 2);
  EXPECT_LT(header.size(), file.size());
  EXPECT_EQ(header.size(), served);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
}

}  // namespace
}  // namespace sigilon
