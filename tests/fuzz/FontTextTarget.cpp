// Font description text reader: what it reads, written back with FontToText,
// reads the same again; the drawing form sets the pixel height its size gives.

#include <string>

#include "engine/Canvas.h"
#include "engine/FontText.h"
#include "engine/Errors.h"
#include "engine/BrandFile.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

struct TRecorder final : TFontTextTarget {
  TFontDescription Font;
  bool SizeSet = false;
  void SetName(const std::string& name) override { Font.Name = name; }
  void SetSize(std::int32_t points) override {
    Font.Size = points;
    SizeSet = true;
  }
  void SetColor(TColor color) override { Font.Color = color; }
  void SetStyle(TFontStyles style) override { Font.Style = style; }
};

// Returns whether the whole text was read.
bool Read(const std::string& text, TRecorder& recorder) {
  try {
    ReadFontText(text, recorder, WindowColorTable());
    return true;
  } catch (const ConvertError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TRecorder first;
  const bool read = Read(text, first);

  TFont drawing;
  try {
    TextToFont(text, drawing);
  } catch (const ConvertError&) {
  }
  // Both forms run the same steps up to the colour: the size is set alike.
  if (first.SizeSet) {
    FUZZ_CHECK(std::int64_t{drawing.Height()} ==
               -std::int64_t{PointsToPixels(first.Font.Size, drawing.PixelsPerInch)});
  }

  // A face name with a comma cannot travel in this form.
  if (!read || first.Font.Name.find(',') != std::string::npos) return 0;
  TRecorder second;
  FUZZ_CHECK(Read(FontToText(first.Font), second));
  FUZZ_CHECK(second.Font == first.Font);
  return 0;
}
