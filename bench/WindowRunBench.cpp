// The window program's run against the codec work it cannot avoid, on a
// folder of eight photo-like 12-megapixel JPEGs, with the Image page showing
// each preview as it comes.
//
//   BM_WindowRun        Process in the main window, as a user presses it
//   BM_BrandFiles       BrandFile on each file without a preview, as sigilon-brand
//   BM_PlainTranscode   read each file, decode, encode at quality 100, write
//
// Only the ratio of the two from one run means anything on a shared machine:
//   windowrunbench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// Runs on the offscreen platform unless a display is named.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "bench/Photo.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"
#include "windows/Dialogs.h"
#include "windows/SplashScreen.h"

namespace sigilon {

struct Fixture;
std::unique_ptr<Fixture> gFixture;

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kPictures = 8;

// A message box would wait for a person; the benchmark only counts them.
class TCountedMessages : public TDialogs {
 public:
  void ShowMessage(QWidget*, const QString&) override { ++Count; }
  int Count = 0;
};

}  // namespace

// Made on first use, released before the application object goes.
struct Fixture {
  bench::TScratchFolders folders{"sigilon-windowbench"};
  const std::string& sourceDir = folders.source;
  const std::string& targetDir = folders.target;
  TCountedMessages messages;
  std::unique_ptr<TMain_Form> form;

  Fixture() {
    for (int i = 0; i < kPictures; ++i) {
      const std::vector<std::byte> bytes =
          EncodeJpeg(Photo(kWidth, kHeight, 2463534242u + 7919u * i), 92, "photo");
      WriteWholeFile(sourceDir + "photo" + std::to_string(i) + ".jpg", bytes);
    }
    // The configuration file and its splash record stay in the scratch folder.
    SetStartDirectoryForTesting(folders.root.string() + "/");
    SetDialogs(&messages);
    SplashScreenDue();
    form = std::make_unique<TMain_Form>();
    form->SetBrandText("\xC2\xA9 Studio Proof");
    // The command line's default brand font, so the stamping matches its benchmark.
    TWindowFont font = form->BrandTextFont();
    TextToFont("\"DejaVu Sans\", 10, [], [clBlack]", font);
    form->SetBrandTextFont(font);
    form->SetSourceDirectory(sourceDir);
    form->SetTargetDirectory(targetDir);
    form->resize(1024, 768);
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
    form->Form().Main_PageControl->setCurrentIndex(1);
    QCoreApplication::processEvents();
  }
  ~Fixture() {
    form.reset();
    SetDialogs(nullptr);
  }
};

namespace {

Fixture& Shared() {
  if (!gFixture) gFixture = std::make_unique<Fixture>();
  return *gFixture;
}

void BM_WindowRun(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    QTest::mouseClick(f.form->Form().Process_Button, Qt::LeftButton);
    if (f.form->LogLines().size() != kPictures + 2 || f.messages.Count != 0) {
      state.SkipWithError("the run did not brand every picture");
      break;
    }
  }
  state.counters["pictures"] = kPictures;
}

void BM_BrandFiles(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string fontText = FontToText(f.form->BrandTextFont());
  TBrandOptions options;
  options.Display = f.form->DisplayInfo();
  for (auto _ : state) {
    for (int i = 0; i < kPictures; ++i) {
      const std::string name = "photo" + std::to_string(i) + ".jpg";
      BrandFile(f.form->BrandText(), fontText, f.sourceDir + name, f.targetDir + name, nullptr,
                options);
    }
  }
  state.counters["pictures"] = kPictures;
}

void BM_PlainTranscode(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    for (int i = 0; i < kPictures; ++i) {
      const std::string name = "photo" + std::to_string(i) + ".jpg";
      const TBitmap decoded = DecodeJpeg(ReadWholeFile(f.sourceDir + name), "photo");
      WriteWholeFile(f.folders.baseline + name, EncodeJpeg(decoded, 100, "photo"));
    }
  }
  state.counters["pictures"] = kPictures;
}

BENCHMARK(BM_WindowRun)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BrandFiles)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainTranscode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace sigilon

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  sigilon::ApplyApplicationTitle();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  sigilon::gFixture.reset();
  return 0;
}
