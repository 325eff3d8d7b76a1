// The whole picture through one filter for the full view: made on a thread of its own by the same
// band filter a save uses (FilterInBands / FilterDeepInBands), into one 24-bit picture instead of
// a file, so that every row shown is byte for byte the row the saved file holds. The rows are
// reported to the window's thread as they are done; the work can be cancelled at every band.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "Bitmap.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "FilterTable.h"

namespace penamo {

// What the picture is filtered with: the filter and the settings in force when the work began.
struct TFilteredViewRequest {
  const TFilterEntry* Filter = nullptr;
  std::uint8_t Strength = kFullStrength;
  TDeepOptions Deep;
};

class TFilteredView {
 public:
  // onRows(rows): rows 0 .. rows - 1 of Picture() are done (called on the thread that called
  // Start, from its event loop, with growing counts; the last call has every row). onError(e): the
  // work failed with e (EOutOfMemory when the picture could not be had); nothing more comes.
  TFilteredView(std::function<void(std::int32_t rows)> onRows,
                std::function<void(std::exception_ptr error)> onError);
  // Cancels the work and waits for it.
  ~TFilteredView();
  TFilteredView(const TFilteredView&) = delete;
  TFilteredView& operator=(const TFilteredView&) = delete;

  // Cancels any work under way (waiting for it: at most one band) and starts filtering picture
  // (and deep, when it holds the picture at more than 8 bits; else the deep filters see picture
  // widened, as a save does) through request. picture's storage is shared, never copied; deep
  // must stay unchanged until Stop. The 24-bit result is made once per picture size and reused.
  void Start(const TBitmap& picture, const TDeepPicture* deep, const TFilteredViewRequest& request);
  // Cancels the work under way, if any, and waits for it to stop. Rows already reported stay.
  void Stop();
  // Stop, and lets the result go.
  void Release();

  // The result: rows 0 .. DoneRows() - 1 hold the filtered picture; the rest are unspecified and
  // are being written. Empty until the first rows are reported.
  const TBitmap& Picture() const { return FPicture; }
  std::int32_t DoneRows() const { return FReported; }
  bool Complete() const { return FReported > 0 && FReported == FPicture.Height(); }
  // Whether work is under way.
  bool Running() const { return FThread.joinable() && !FFinished.load(); }
  const TFilteredViewRequest& Request() const { return FRequest; }

 private:
  class TViewWriter;
  void Run(std::shared_ptr<TBitmap> source, const TDeepPicture* deep, TFilteredViewRequest request,
           std::int32_t width, std::int32_t height, QObject* context);
  void Notify(QObject* context);

  std::function<void(std::int32_t)> FOnRows;
  std::function<void(std::exception_ptr)> FOnError;
  // Shared with the image control that shows it; written only through FRows, which were taken
  // before it was shared, so the writes land in the shared storage and nothing is copied.
  TBitmap FPicture;
  std::vector<std::uint8_t*> FRows;
  TFilteredViewRequest FRequest;
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FFinished{false};
  std::atomic<std::int32_t> FDone{0};
  std::atomic<bool> FNotifyPending{false};
  std::int32_t FReported = 0;
  // The receiver of the current work's reports: a new one for each work, so that whatever a
  // stopped work still sent is dropped with its receiver.
  std::unique_ptr<QObject> FContext;
};

}  // namespace penamo
