// The window's own costs, measured on the real main window (offscreen): refreshing the six
// previews from a 128 x 128 sample, opening a 4096 x 4096 picture until its previews are
// painted, and saving it through a filter, with the memory the save adds to what the window
// holds (target: at most 16 MiB).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "Application.h"
#include "Gradient.h"
#include "MainForm.h"

namespace penamo {

struct TWindowFixture;
extern std::unique_ptr<TWindowFixture> gWindow;

namespace {

constexpr int kLargeSide = 4096;

}  // namespace

// One window for every measurement: building it is not what is measured.
struct TWindowFixture {
  QTemporaryDir Folder;
  QString LargeFile;
  TFormPtr<TMainForm> Form = MakeForm<TMainForm>();

  TWindowFixture() {
    LargeFile = Folder.filePath("large.bmp");
    TBitmap picture;
    bench::MakeGradient(picture, kLargeSide, kLargeSide);
    picture.WriteBitmapFile(LargeFile.toStdString());
    Form->show();
    QApplication::processEvents();
  }
};

// Made on first use, released before the application object.
std::unique_ptr<TWindowFixture> gWindow;

namespace {

TWindowFixture& Window() {
  if (!gWindow) gWindow = std::make_unique<TWindowFixture>();
  return *gWindow;
}

// Five filters over the sample, six previews given their pictures, and the repaint.
void BM_UpdateSamples(benchmark::State& state) {
  TWindowFixture& window = Window();
  window.Form->OpenFile(window.LargeFile);
  TBitmap picture;
  picture.ShareFrom(&window.Form->Bitmap());
  int step = 0;
  for (auto _ : state) {
    // A new origin each time, as a click in the full view gives.
    window.Form->UpdateSamples(picture, {(step * 131) % 3000, (step * 71) % 3000});
    QApplication::processEvents();
    ++step;
  }
}
BENCHMARK(BM_UpdateSamples)->Unit(benchmark::kMillisecond);

// From the file name chosen in the open dialog to the previews painted.
void BM_OpenLargePicture(benchmark::State& state) {
  TWindowFixture& window = Window();
  for (auto _ : state) {
    window.Form->OpenFile(window.LargeFile);
    QApplication::processEvents();
  }
  state.SetLabel("4096 x 4096, 24 bits");
}
BENCHMARK(BM_OpenLargePicture)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

// The process's anonymous resident memory in KiB, from /proc.
long AnonymousKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "RssAnon:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 10, '\n');
  }
  return 0;
}

// From the file name chosen in the save dialog to the file durable in its place. Reports the
// most anonymous memory the save added over what the window held before it, polled every
// millisecond while it ran.
void BM_SaveLargePicture(benchmark::State& state) {
  TWindowFixture& window = Window();
  window.Form->OpenFile(window.LargeFile);
  QApplication::processEvents();
  const auto filter = static_cast<TFilterId>(state.range(0));
  const QString target = window.Folder.filePath("saved.bmp");
  long added = 0;
  for (auto _ : state) {
    const long before = AnonymousKiB();
    std::atomic<bool> done{false};
    std::atomic<long> most{before};
    std::thread sampler([&] {
      while (!done.load()) {
        most.store(std::max(most.load(), AnonymousKiB()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    window.Form->SaveFile(filter, target);
    done.store(true);
    sampler.join();
    added = std::max(added, most.load() - before);
  }
  state.counters["added_KiB"] = static_cast<double>(added);
  state.SetLabel(std::string(FilterEntry(filter).Name) + ", 4096 x 4096, 24 bits");
}
BENCHMARK(BM_SaveLargePicture)
    ->Arg(static_cast<int>(TFilterId::PatternDither16))
    ->Arg(static_cast<int>(TFilterId::DiffError16))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3);

}  // namespace
}  // namespace penamo

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  penamo::TApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  penamo::gWindow.reset();
  return 0;
}
