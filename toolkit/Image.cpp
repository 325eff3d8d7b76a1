#include "Image.h"

#include "Application.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <span>

#include "BitmapPainter.h"

namespace penamo {

namespace {

QPoint PixelAt(const QPointF& position) {
  return {static_cast<int>(std::floor(position.x())), static_cast<int>(std::floor(position.y()))};
}

}  // namespace

bool ToMouseButton(Qt::MouseButton button, TMouseButton& result) {
  switch (button) {
    case Qt::LeftButton:
      result = TMouseButton::mbLeft;
      return true;
    case Qt::RightButton:
      result = TMouseButton::mbRight;
      return true;
    case Qt::MiddleButton:
      result = TMouseButton::mbMiddle;
      return true;
    default:
      return false;
  }
}

TShiftState ToShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState shift;
  if (modifiers.testFlag(Qt::ShiftModifier)) shift.Include(TShiftFlag::ssShift);
  if (modifiers.testFlag(Qt::AltModifier)) shift.Include(TShiftFlag::ssAlt);
  if (modifiers.testFlag(Qt::ControlModifier)) shift.Include(TShiftFlag::ssCtrl);
  if (buttons.testFlag(Qt::LeftButton)) shift.Include(TShiftFlag::ssLeft);
  if (buttons.testFlag(Qt::RightButton)) shift.Include(TShiftFlag::ssRight);
  if (buttons.testFlag(Qt::MiddleButton)) shift.Include(TShiftFlag::ssMiddle);
  return shift;
}

TImage::TImage(QWidget* parent) : QWidget(parent) {
  resize(105, 105);
  FPicture.OnChange = [this](TPicture&) {
    // The opacity belonged to the picture that was shown.
    FAlpha.reset();
    PictureChanged();
  };
}

TImage::~TImage() {
  FPicture.OnChange = nullptr;
}

void TImage::SetAutoSize(bool autoSize) {
  if (autoSize == FAutoSize) return;
  FAutoSize = autoSize;
  if (FAutoSize) PictureChanged();
}

void TImage::SetZoom(int zoom) {
  zoom = std::max(zoom, 1);
  if (zoom == FZoom) return;
  FZoom = zoom;
  PictureChanged();
}

void TImage::SetAlpha(TAlphaPlane alpha) {
  if (alpha == FAlpha) return;
  FAlpha = std::move(alpha);
  update();
}

void TImage::SetMarkedRect(const QRect& pictureRect) {
  const QRect marked = pictureRect.isValid() ? pictureRect : QRect();
  if (marked == FMarkedRect) return;
  // The frame's old place and its new one are painted again, with a pixel around them: at a
  // scale factor of 2 or more the frame's lines reach a device pixel past the rectangle.
  const auto around = [this](const QRect& picture) {
    return ControlRectOf(picture).adjusted(-1, -1, 1, 1);
  };
  update(around(FMarkedRect));
  FMarkedRect = marked;
  update(around(FMarkedRect));
}

int TImage::DevicePixelsPerPixel(int zoom, qreal devicePixelRatio) {
  // The small allowance keeps a ratio computed as 1.4999999 from losing a whole pixel.
  const auto pixels = static_cast<int>(std::floor(std::max(zoom, 1) * devicePixelRatio + 1e-6));
  return std::max(pixels, 1);
}

int TImage::DevicePixelsPerPixel() const {
  return DevicePixelsPerPixel(FZoom, devicePixelRatioF());
}

qreal TImage::Scale() const {
  const qreal ratio = devicePixelRatioF();
  if (ratio == 1.0) return FZoom;
  return DevicePixelsPerPixel() / ratio;
}

QPoint TImage::DeviceOrigin() const {
  const qreal ratio = devicePixelRatioF();
  const TBitmap* bitmap = FPicture.Bitmap();
  if (FAutoSize || ratio == 1.0 || bitmap == nullptr || bitmap->Empty()) return {0, 0};
  const int pixels = DevicePixelsPerPixel();
  const qreal exact = std::max(FZoom, 1) * ratio;
  // Half the rounding's loss, but never past the control's own device pixels.
  const auto along = [&](int count, int controlSize) {
    const int shown = count * pixels;
    const int room = std::max(0, static_cast<int>(std::floor(controlSize * ratio + 1e-6)) - shown);
    const int lost = std::max(0, static_cast<int>(std::floor(count * exact + 1e-6)) - shown);
    return std::min(lost, room) / 2;
  };
  return {along(bitmap->Width(), width()), along(bitmap->Height(), height())};
}

QPoint TImage::ControlPointOf(QPoint picturePixel) const {
  const qreal scale = Scale();
  const QPointF origin = QPointF(DeviceOrigin()) / devicePixelRatioF();
  return {static_cast<int>(std::floor(picturePixel.x() * scale + origin.x())),
          static_cast<int>(std::floor(picturePixel.y() * scale + origin.y()))};
}

QRect TImage::ControlRectOf(const QRect& pictureRect) const {
  if (pictureRect.isEmpty()) return {};
  const qreal scale = Scale();
  const QPointF origin = QPointF(DeviceOrigin()) / devicePixelRatioF();
  const QPoint topLeft = ControlPointOf(pictureRect.topLeft());
  const QPoint end(static_cast<int>(std::ceil((pictureRect.right() + 1) * scale + origin.x())),
                   static_cast<int>(std::ceil((pictureRect.bottom() + 1) * scale + origin.y())));
  return {topLeft, end - QPoint(1, 1)};
}

QPoint TImage::PicturePixelAt(const QPointF& position) const {
  // In device pixels, where the blocks are whole.
  const qreal ratio = devicePixelRatioF();
  const int pixels = DevicePixelsPerPixel();
  const QPoint origin = DeviceOrigin();
  return {static_cast<int>(std::floor((position.x() * ratio - origin.x()) / pixels + 1e-9)),
          static_cast<int>(std::floor((position.y() * ratio - origin.y()) / pixels + 1e-9))};
}

void TImage::PictureChanged() {
  const int width = FPicture.Width();
  const int height = FPicture.Height();
  // A picture without a size (an empty one) leaves the control as it was.
  if (FAutoSize && width > 0 && height > 0) {
    const QRect covered = ControlRectOf(QRect(0, 0, width, height));
    resize(covered.right() + 1, covered.bottom() + 1);
  }
  UpdateOpacity();
  update();
}

bool TImage::event(QEvent* event) {
  // Moved to a screen of another scale factor: the blocks take another number of device pixels.
  if (event->type() == QEvent::ScreenChangeInternal) PictureChanged();
  return QWidget::event(event);
}

void TImage::UpdateOpacity() {
  // Only a raster image is drawn without transparent areas; an icon has its own.
  const TBitmap* bitmap = FPicture.Bitmap();
  // Whole device pixels only: a control whose last device pixel the picture leaves uncovered
  // lets the parent paint there.
  const qreal ratio = devicePixelRatioF();
  const int pixels = DevicePixelsPerPixel();
  FOpaque = bitmap != nullptr && !bitmap->Empty() &&
            bitmap->Width() * pixels >= std::ceil(width() * ratio - 1e-6) &&
            bitmap->Height() * pixels >= std::ceil(height() * ratio - 1e-6);
  // Qt paints the parent under a widget only while this attribute is off, which is what
  // clears the remains of an earlier, larger picture.
  setAttribute(Qt::WA_OpaquePaintEvent, FOpaque);
}

void TImage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateOpacity();
}

void TImage::paintEvent(QPaintEvent* event) {
  const TGraphic* graphic = FPicture.Graphic();
  if (graphic == nullptr || graphic->Empty()) return;
  QPainter painter(this);
  if (const TBitmap* bitmap = FPicture.Bitmap(); bitmap != nullptr && devicePixelRatioF() != 1.0) {
    PaintInDevicePixels(painter, event->rect() & rect(), *bitmap);
  } else if (bitmap != nullptr) {
    const std::span<const std::uint8_t> alpha = FAlpha != nullptr
                                                    ? std::span<const std::uint8_t>(*FAlpha)
                                                    : std::span<const std::uint8_t>();
    DrawBitmapZoomed(painter, QPoint(0, 0), *bitmap, event->rect() & rect(), FZoom, alpha);
    if (!FMarkedRect.isEmpty()) {
      const QRect outer(FMarkedRect.topLeft() * FZoom, FMarkedRect.size() * FZoom);
      const QRect inner = outer.adjusted(1, 1, -1, -1);
      painter.setBrush(Qt::NoBrush);
      painter.setPen(QColor(MarkOuterColor()));
      painter.drawRect(outer.adjusted(0, 0, -1, -1));
      if (inner.width() > 0 && inner.height() > 0) {
        painter.setPen(QColor(MarkInnerColor()));
        painter.drawRect(inner.adjusted(0, 0, -1, -1));
      }
    }
  } else if (const TIcon* icon = FPicture.Icon()) {
    painter.drawPixmap(0, 0, icon->Pixmap());
  }
}

void TImage::PaintInDevicePixels(QPainter& painter, const QRect& dirty, const TBitmap& bitmap) {
  // The painter works in device pixels from here on: the picture's blocks are whole device
  // pixels and its image is copied, never scaled. Qt takes a scale this close to 1 for none.
  const qreal ratio = devicePixelRatioF();
  painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
  const QRect clip(QPoint(static_cast<int>(std::floor(dirty.left() * ratio)),
                          static_cast<int>(std::floor(dirty.top() * ratio))),
                   QPoint(static_cast<int>(std::ceil((dirty.right() + 1) * ratio)) - 1,
                          static_cast<int>(std::ceil((dirty.bottom() + 1) * ratio)) - 1));
  const int pixels = DevicePixelsPerPixel();
  const std::span<const std::uint8_t> alpha =
      FAlpha != nullptr ? std::span<const std::uint8_t>(*FAlpha) : std::span<const std::uint8_t>();
  const QPoint origin = DeviceOrigin();
  DrawBitmapZoomed(painter, origin, bitmap, clip, pixels, alpha);
  if (FMarkedRect.isEmpty()) return;
  // The frame: one device pixel white outside, one black inside, as at a ratio of 1.
  const QRect outer(origin + FMarkedRect.topLeft() * pixels, FMarkedRect.size() * pixels);
  const QRect inner = outer.adjusted(1, 1, -1, -1);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(MarkOuterColor()), 0));
  painter.drawRect(outer.adjusted(0, 0, -1, -1));
  if (inner.width() > 0 && inner.height() > 0) {
    painter.setPen(QPen(QColor(MarkInnerColor()), 0));
    painter.drawRect(inner.adjusted(0, 0, -1, -1));
  }
}

void TImage::mousePressEvent(QMouseEvent* event) {
  // Accepting makes Qt send every pointer event to this control until the release: that is
  // the capture a left press is to hold. Right and middle releases are handed on instead.
  event->accept();
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  TMouseButton button;
  if (!ToMouseButton(event->button(), button)) {
    event->ignore();
    return;
  }
  event->accept();
  if (button != TMouseButton::mbLeft) {
    // The application hands every right and middle release to the image under the pointer,
    // whichever control took the press (TApplication::notify).
    if (Application == nullptr) HandOnRelease(*event);
    return;
  }
  const TShiftState shift = ToShiftState(event->modifiers(), event->buttons());
  const QPoint at = PicturePixelAt(event->position());
  if (OnMouseUp) Guarded(this, [&] { OnMouseUp(*this, button, shift, at.x(), at.y()); });
}

void TImage::HandOnRelease(const QMouseEvent& event) {
  TMouseButton button;
  if (!ToMouseButton(event.button(), button)) return;
  const QPoint globalPos = PixelAt(event.globalPosition());
  auto* target = qobject_cast<TImage*>(QApplication::widgetAt(globalPos));
  if (target == nullptr || !target->isEnabled() || !target->OnMouseUp) return;
  // A window that a modal window blocks takes no input.
  if (const QWidget* modal = QApplication::activeModalWidget();
      modal != nullptr && modal != target->window() && !modal->isAncestorOf(target)) {
    return;
  }
  const QPoint at = target->PicturePixelAt(QPointF(target->mapFromGlobal(globalPos)));
  const TShiftState shift = ToShiftState(event.modifiers(), event.buttons());
  // Qt's widget code is built without exception support: the handler's errors stop here.
  Guarded(target, [&] { target->OnMouseUp(*target, button, shift, at.x(), at.y()); });
}

}  // namespace penamo
