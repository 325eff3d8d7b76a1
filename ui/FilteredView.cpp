#include "FilteredView.h"

#include <cstring>
#include <optional>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Exceptions.h"
#include "Machine.h"
#include "RowSource.h"

namespace penamo {

// Copies each band into the result's rows and reports it; raises EAbort at the first band after
// a cancel, which ends the band filter without another band.
class TFilteredView::TViewWriter final : public TBandWriter {
 public:
  TViewWriter(TFilteredView& view, QObject* context) : FView(view), FContext(context) {}

  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    if (FView.FCancel.load(std::memory_order_relaxed)) throw EAbort(std::string());
    const std::size_t bytes = 3 * static_cast<std::size_t>(FView.FPicture.Width());
    for (std::int32_t i = 0; i < count; ++i)
      std::memcpy(FView.FRows[static_cast<std::size_t>(first + i)],
                  rows + static_cast<std::size_t>(i) * stride, bytes);
    // Release: the window's thread that reads the count sees the rows written.
    FView.FDone.store(first + count, std::memory_order_release);
    FView.Notify(FContext);
  }
  void Commit() override {}

 private:
  TFilteredView& FView;
  QObject* FContext;
};

TFilteredView::TFilteredView(std::function<void(std::int32_t rows)> onRows,
                             std::function<void(std::exception_ptr error)> onError)
    : FOnRows(std::move(onRows)), FOnError(std::move(onError)) {}

TFilteredView::~TFilteredView() {
  Stop();
}

void TFilteredView::Stop() {
  FCancel.store(true);
  if (FThread.joinable()) FThread.join();
  // Reports still queued belong to the work just stopped.
  FContext.reset();
  FNotifyPending.store(false);
}

void TFilteredView::Release() {
  Stop();
  FRows.clear();
  FPicture.ShareFrom(nullptr);
  FReported = 0;
}

void TFilteredView::Start(const TBitmap& picture, const TDeepPicture* deep,
                          const TFilteredViewRequest& request) {
  Stop();
  FRequest = request;
  FReported = 0;
  FDone.store(0);
  FCancel.store(false);
  FFinished.store(false);
  const std::int32_t width = picture.Width();
  const std::int32_t height = picture.Height();
  if (request.Filter == nullptr || width <= 0 || height <= 0) return;
  // A result of another size is let go here, before the work makes the new one.
  if (FPicture.Width() != width || FPicture.Height() != height) {
    FRows.clear();
    FPicture.ShareFrom(nullptr);
  }
  // The work reads its own reference to the picture's storage: opening another picture meanwhile
  // never pulls the rows from under it.
  auto source = std::make_shared<TBitmap>();
  source->ShareFrom(&picture);
  FContext = std::make_unique<QObject>();
  FThread = std::thread([this, source, deep, request, width, height, context = FContext.get()] {
    Run(source, deep, request, width, height, context);
  });
}

void TFilteredView::Notify(QObject* context) {
  // One report queued at a time: the window reads the latest count when it comes to it.
  if (FNotifyPending.exchange(true)) return;
  QMetaObject::invokeMethod(
      context,
      [this] {
        FNotifyPending.store(false);
        const std::int32_t done = FDone.load(std::memory_order_acquire);
        if (done <= FReported) return;
        FReported = done;
        if (FOnRows) FOnRows(done);
      },
      Qt::QueuedConnection);
}

void TFilteredView::Run(std::shared_ptr<TBitmap> source, const TDeepPicture* deep,
                        TFilteredViewRequest request, std::int32_t width, std::int32_t height,
                        QObject* context) {
  try {
    if (FRows.empty()) {
      // Nothing filled: each row costs memory as the filter writes it.
      WithMemory("filtered-view", [&] {
        FPicture.NewBlack24(width, height);
        FRows.resize(static_cast<std::size_t>(height));
      });
      // Taken while the storage is this picture's alone: once the image control shares it,
      // RowAddress would copy it.
      for (std::int32_t y = 0; y < height; ++y)
        FRows[static_cast<std::size_t>(y)] = FPicture.RowAddress(y);
    }
    TViewWriter writer(*this, context);
    // The rows are copied into the picture on the band filter's writing thread, beside the
    // filtering of the next band, as a save writes; a cancel is seen there at the next band.
    const TBandOptions options;
    TBitmapRows rows(*source);
    if (request.Filter->TakesLevels) {
      std::optional<TDeepPictureRows> deepRows;
      std::optional<TWidenedRows> widened;
      TDeepRowSource* deepSource = nullptr;
      if (deep != nullptr && !deep->Empty() && deep->Width == width && deep->Height == height) {
        deepSource = &deepRows.emplace(*deep);
      } else {
        deepSource = &widened.emplace(rows);
      }
      FilterDeepInBands(*request.Filter, request.Deep, *deepSource, writer, options);
    } else {
      FilterInBands(request.Filter, request.Strength, rows, writer, options);
    }
  } catch (const EAbort&) {
    // Cancelled: the next work (or none) takes over.
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    QMetaObject::invokeMethod(
        context,
        [this, error] {
          if (FOnError) FOnError(error);
        },
        Qt::QueuedConnection);
  }
  FFinished.store(true);
}

}  // namespace penamo
