// What an image control shows: at most one graphic, owned by the picture. A raster image is
// held as an image of its own that shares the source's storage, so handing a picture over
// copies no pixel and later changes to the source leave the picture as it was given.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "Exceptions.h"

namespace penamo {

// An icon: drawn at its own size with its own transparent areas (the version dialog's).
class TIcon final : public TGraphic {
 public:
  TIcon() = default;
  explicit TIcon(QPixmap pixmap) : FPixmap(std::move(pixmap)) {}
  // The largest size the icon offers; a null icon makes an empty graphic.
  static std::unique_ptr<TIcon> FromIcon(const QIcon& icon);

  std::int32_t Width() const override { return FPixmap.width(); }
  std::int32_t Height() const override { return FPixmap.height(); }
  bool Empty() const override { return FPixmap.isNull(); }
  const QPixmap& Pixmap() const { return FPixmap; }

 private:
  QPixmap FPixmap;
};

class TPicture {
 public:
  TPicture();
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Each Assign replaces the graphic as its last step and then reports the change once.
  // A raster image is shared (copy on write); null empties the picture.
  void Assign(const TBitmap* source);
  void Assign(const TIcon* source);
  void Assign(const TPicture* source);
  // Any graphic: raster images and icons as above; any other kind raises EConvertError
  // ("<source class> を TPicture に代入することはできません") and leaves the picture as it was.
  void Assign(const TGraphic* source);
  // Empties the picture.
  void Assign(std::nullptr_t) { SetGraphic(nullptr); }

  // The graphic held, or null when the picture is empty.
  const TGraphic* Graphic() const { return FGraphic.get(); }
  // The held raster image or icon, null when the graphic is of the other kind or absent.
  const TBitmap* Bitmap() const;
  const TIcon* Icon() const;

  std::int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
  std::int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }

  // Called after every completed change of the picture or of the graphic it holds.
  std::function<void(TPicture&)> OnChange;

 private:
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  void Changed();

  std::unique_ptr<TGraphic> FGraphic;
};

}  // namespace penamo
