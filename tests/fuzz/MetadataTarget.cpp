// JPEG marker reader: never reads outside the data (the sanitizers watch),
// keeps only well-formed segments, and what a branded copy carries reads
// back the same from the copy: upright, same segments, same colour profile.

#include <vector>

#include "engine/JpegMetadata.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

// The marker segments of a file that holds nothing else.
std::vector<std::byte> FileOf(const std::vector<TJpegSegment>& segments) {
  std::vector<std::byte> file = {std::byte{0xFF}, std::byte{0xD8}};
  for (const TJpegSegment& s : segments) {
    const std::size_t length = s.Payload.size() + 2;
    file.insert(file.end(), {std::byte{0xFF}, std::byte{s.Marker}, std::byte(length >> 8),
                             std::byte(length & 0xFF)});
    file.insert(file.end(), s.Payload.begin(), s.Payload.end());
  }
  file.insert(file.end(), {std::byte{0xFF}, std::byte{0xD9}});
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TJpegMetadata metadata = ReadJpegMetadata(fuzz::Bytes(data, size));
  FUZZ_CHECK(metadata.Orientation >= 1 && metadata.Orientation <= 8);
  for (const TJpegSegment& s : metadata.PictureInformation) {
    FUZZ_CHECK(s.Marker == kJpegApp1 || s.Marker == kJpegApp13);
    FUZZ_CHECK(s.Payload.size() <= kMaxSegmentPayload);
  }
  const std::vector<TJpegSegment> copy = BrandedCopySegments(metadata, true);
  for (const TJpegSegment& s : copy) FUZZ_CHECK(s.Payload.size() <= kMaxSegmentPayload);

  const TJpegMetadata again = ReadJpegMetadata(FileOf(copy));
  FUZZ_CHECK(again.Orientation == 1);
  FUZZ_CHECK(again.IccProfile == metadata.IccProfile);
  FUZZ_CHECK(again.PictureInformation == metadata.PictureInformation);
  return 0;
}
