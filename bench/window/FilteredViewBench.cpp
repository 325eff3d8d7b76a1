// One filtered full view in the real main window, timed from the choice of the filter: the file is
// opened with the full view showing, then the filter is chosen as the toolbar's list does and the
// event loop runs until the whole picture is done. Run once per process by
// filtered-view-bench.sh, which interleaves it with penamo-filter saving the same picture.
//
//   penamo_filtered_view_bench FILTER FILE
//
// Prints one line:
//   complete_ms=... first_ms=... ticks=... gap_p50_ms=... gap_p90_ms=... gap_p99_ms=...
//   gap_max_ms=... added_MiB=... copy_MiB=...
// complete: the choice to the last rows shown; first: the choice to the first screenful of
// filtered rows painted; the gaps: between ticks of a 10 ms timer on the event loop while the
// picture is filtered; added: the most anonymous memory held beyond what the window held before
// the choice (polled every 5 ms), against one 24-bit copy of the picture (copy).
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Application.h"
#include "MainForm.h"

namespace {

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

// Notes the moment the filtered rows first fill the full view's visible height.
class TFirstScreenful : public QObject {
 public:
  TFirstScreenful(QWidget& rows, QWidget& client, QElapsedTimer& clock)
      : FRows(rows), FClient(client), FClock(clock) {}
  double Ms = -1;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && Ms < 0 &&
        FRows.height() >= std::min(FClient.height(), FRows.parentWidget()->height()))
      Ms = static_cast<double>(FClock.nsecsElapsed()) / 1e6;
    return false;
  }

 private:
  QWidget& FRows;
  QWidget& FClient;
  QElapsedTimer& FClock;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc != 3 || penamo::FindFilter(argv[1]) == nullptr) {
    std::fprintf(stderr, "usage: penamo_filtered_view_bench FILTER FILE\n");
    return 2;
  }
  const penamo::TFilterId filter = penamo::FindFilter(argv[1])->Id;
  penamo::TApplication app(argc, argv);
  app.SetTitle(QString::fromUtf8(penamo::ProgramTitle));
  const penamo::TFormPtr<penamo::TMainForm> form = penamo::MakeForm<penamo::TMainForm>();
  form->resize(1000, 800);
  form->show();
  QApplication::processEvents();
  if (auto* full = form->findChild<penamo::TFrameSpeedButton*>(QStringLiteral("FrameSpeedButton1")))
    full->Press();
  form->OpenFile(QString::fromLocal8Bit(argv[2]));
  form->repaint();
  QApplication::processEvents();

  auto* rows = form->findChild<QWidget*>(QStringLiteral("FilteredImage"));
  auto* box = form->findChild<penamo::TScrollBox*>(QStringLiteral("ScrollBox"));
  if (rows == nullptr || box == nullptr) return 1;
  QElapsedTimer clock;
  TFirstScreenful first(*rows, *box->Client(), clock);
  rows->installEventFilter(&first);

  const long before = AnonymousKiB();
  std::atomic<bool> done{false};
  std::atomic<long> most{before};
  std::thread sampler([&] {
    while (!done.load()) {
      most.store(std::max(most.load(), AnonymousKiB()));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  std::vector<double> ticks;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout,
                   [&] { ticks.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6); });
  clock.start();
  timer.start(10);
  ticks.push_back(0);
  // As the toolbar's list does.
  form->SetViewFilter(filter);
  double complete = -1;
  while (complete < 0) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (form->FilteredViewComplete()) {
      // The last rows painted, then the time.
      QApplication::processEvents();
      complete = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }
  }
  timer.stop();
  done.store(true);
  sampler.join();

  std::vector<double> gaps;
  for (std::size_t i = 1; i < ticks.size(); ++i)
    gaps.push_back(ticks[i] - ticks[i - 1]);
  const double copy = 3.0 * form->Bitmap().Width() * form->Bitmap().Height() / (1 << 20);
  std::printf(
      "complete_ms=%.1f first_ms=%.1f ticks=%zu gap_p50_ms=%.1f gap_p90_ms=%.1f gap_p99_ms=%.1f "
      "gap_max_ms=%.1f added_MiB=%.1f copy_MiB=%.1f\n",
      complete, first.Ms, ticks.size(), Percentile(gaps, 0.5), Percentile(gaps, 0.9),
      Percentile(gaps, 0.99), Percentile(gaps, 1.0),
      static_cast<double>(most.load() - before) / 1024.0, copy);
  return 0;
}
