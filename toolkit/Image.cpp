#include "Image.h"

#include "Application.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

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
  FPicture.OnChange = [this](TPicture&) { PictureChanged(); };
}

TImage::~TImage() {
  FPicture.OnChange = nullptr;
}

void TImage::SetAutoSize(bool autoSize) {
  if (autoSize == FAutoSize) return;
  FAutoSize = autoSize;
  if (FAutoSize) PictureChanged();
}

void TImage::PictureChanged() {
  const int width = FPicture.Width();
  const int height = FPicture.Height();
  // A picture without a size (an empty one) leaves the control as it was.
  if (FAutoSize && width > 0 && height > 0) resize(width, height);
  UpdateOpacity();
  update();
}

void TImage::UpdateOpacity() {
  // Only a raster image is drawn without transparent areas; an icon has its own.
  const TBitmap* bitmap = FPicture.Bitmap();
  FOpaque = bitmap != nullptr && !bitmap->Empty() && bitmap->Width() >= width() &&
            bitmap->Height() >= height();
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
  if (const TBitmap* bitmap = FPicture.Bitmap()) {
    DrawBitmap(painter, QPoint(0, 0), *bitmap, event->rect() & rect());
  } else if (const TIcon* icon = FPicture.Icon()) {
    painter.drawPixmap(0, 0, icon->Pixmap());
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
  const QPoint at = PixelAt(event->position());
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
  const QPoint at = target->mapFromGlobal(globalPos);
  const TShiftState shift = ToShiftState(event.modifiers(), event.buttons());
  // Qt's widget code is built without exception support: the handler's errors stop here.
  Guarded(target, [&] { target->OnMouseUp(*target, button, shift, at.x(), at.y()); });
}

}  // namespace penamo
