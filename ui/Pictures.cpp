#include "Pictures.h"

#include <QBitmap>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <vector>

#include "BitmapPainter.h"
#include "Exceptions.h"
#include "Stream.h"

// The resources live in a static library: their registration must be pulled in by name, from
// outside any namespace.
static void RegisterPictureResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(pictures);
    return true;
  }();
  (void)registered;
}

namespace penamo {

void LoadPicture(TBitmap& bitmap, std::string_view name) {
  RegisterPictureResources();
  const QString path = QStringLiteral(":/pictures/") +
                       QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw EFOpenError(Msg::FOpenError(path.toStdString()));
  const QByteArray bytes = file.readAll();
  TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  bitmap.ReadBitmapStream(stream);
}

QIcon MainIcon() {
  TBitmap bitmap;
  LoadPicture(bitmap, Pictures::Icon);
  const QImage image = BitmapToImage(bitmap);
  if (image.isNull()) return {};
  QPixmap pixmap = QPixmap::fromImage(image);
  const QRgb surround = image.pixel(0, image.height() - 1);
  pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(surround, Qt::MaskInColor)));
  return QIcon(pixmap);
}

}  // namespace penamo
