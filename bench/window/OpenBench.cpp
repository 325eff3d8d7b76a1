// One open of a picture in the real main window, timed in stages: from the file name chosen in
// the open dialog to the window painted again. Run once per process by open-bench.sh, which
// interleaves it with penamo-filter reading the same file.
//
//   penamo_open_bench [--full] [--read-only] FILE
//
// --full opens with the full view shown instead of the previews. --read-only times the
// picture's reading alone (ReadPicture, as the command line reads), without a window.
// Prints one line: total_ms=... open_ms=... paint_ms=... (open: read, hand-over and previews),
// or with --read-only total_ms=... read_ms=...
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Application.h"
#include "MainForm.h"
#include "PictureFile.h"

namespace {

double Ms(const QElapsedTimer& timer) {
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  bool full = false;
  bool readOnly = false;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--full") == 0) {
      full = true;
    } else if (std::strcmp(argv[i], "--read-only") == 0) {
      readOnly = true;
    } else {
      file = argv[i];
    }
  }
  if (file == nullptr) {
    std::fprintf(stderr, "usage: penamo_open_bench [--full] [--read-only] FILE\n");
    return 2;
  }
  if (readOnly) {
    QElapsedTimer timer;
    timer.start();
    penamo::TBitmap picture;
    penamo::TPictureExtras extras;
    penamo::ReadPicture(file, picture, extras);
    std::printf("total_ms=%.1f read_ms=%.1f\n", Ms(timer), Ms(timer));
    return 0;
  }

  penamo::TApplication app(argc, argv);
  app.SetTitle(QString::fromUtf8(penamo::ProgramTitle));
  const penamo::TFormPtr<penamo::TMainForm> form = penamo::MakeForm<penamo::TMainForm>();
  form->resize(1000, 800);
  form->show();
  QApplication::processEvents();
  if (full) {
    // As a click on the full-view button does.
    auto* button = form->findChild<penamo::TFrameSpeedButton*>(QStringLiteral("FrameSpeedButton1"));
    if (button != nullptr) button->Press();
    QApplication::processEvents();
  }

  // The stages: the whole open (read, handing over, previews), then the paint that follows.
  QElapsedTimer timer;
  timer.start();
  form->OpenFile(QString::fromLocal8Bit(file));
  const double open = Ms(timer);
  timer.restart();
  form->repaint();
  QApplication::processEvents();
  const double paint = Ms(timer);
  std::printf("total_ms=%.1f open_ms=%.1f paint_ms=%.1f\n", open + paint, open, paint);
  return 0;
}
