// The image control: draws its picture unscaled at its top-left corner and nothing else, so
// the parent's background shows wherever the picture does not reach.
#pragma once

#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Picture.h"

namespace penamo {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

enum class TShiftFlag : std::uint8_t {
  ssShift,
  ssAlt,
  ssCtrl,
  ssLeft,
  ssRight,
  ssMiddle,
  ssDouble
};

// Keys and buttons held at a pointer event.
class TShiftState {
 public:
  TShiftState() = default;
  bool Contains(TShiftFlag flag) const { return (FBits & Bit(flag)) != 0; }
  TShiftState& Include(TShiftFlag flag) {
    FBits = static_cast<std::uint8_t>(FBits | Bit(flag));
    return *this;
  }
  bool Empty() const { return FBits == 0; }
  friend bool operator==(const TShiftState&, const TShiftState&) = default;

 private:
  static std::uint8_t Bit(TShiftFlag flag) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(flag));
  }
  std::uint8_t FBits = 0;
};

class TImage : public QWidget {
  Q_OBJECT

 public:
  // 105 x 105, empty picture, AutoSize false.
  explicit TImage(QWidget* parent = nullptr);
  ~TImage() override;

  TPicture& Picture() { return FPicture; }
  const TPicture& Picture() const { return FPicture; }

  bool AutoSize() const { return FAutoSize; }
  // Turning AutoSize on takes the picture's size at once (when it has one).
  void SetAutoSize(bool autoSize);

  // Whether the picture covers every pixel of the control; the parent then paints nothing
  // under it.
  bool Opaque() const { return FOpaque; }

  // Each picture pixel is drawn as a Zoom x Zoom block of screen pixels, exactly, never
  // smoothed (1: unscaled, the default; values below 1 count as 1). With AutoSize the control
  // is Zoom times the picture's size, and pointer positions are reported in picture pixels.
  // At a scale factor other than 1 a block is DevicePixelsPerPixel device pixels wide and high.
  int Zoom() const { return FZoom; }
  void SetZoom(int zoom);

  // The whole-block mapping: every picture pixel covers the same whole number of device pixels
  // (the screen's own), max(1, floor(Zoom x devicePixelRatio)), and is painted unscaled in
  // device pixels, so that no pixel is drawn wider than its neighbour at a fractional scale
  // factor. At a ratio of 1 (or 2) that is Zoom (or 2 x Zoom) as ever; at 1.5 the steps are 1,
  // 3 and 6 device pixels, so 1x shows a little smaller than a logical pixel a picture pixel.
  // Rounding down keeps a sample of 128 / Zoom pixels inside a 128-pixel control at every ratio.
  static int DevicePixelsPerPixel(int zoom, qreal devicePixelRatio);
  int DevicePixelsPerPixel() const;
  // The control's own (logical) pixels one picture pixel takes: DevicePixelsPerPixel divided by
  // the ratio (Zoom at a ratio of 1).
  qreal Scale() const;
  // Where the picture starts in the control, in device pixels: (0, 0), except in a control of
  // its own size (not AutoSize) at a fractional ratio, where the picture is moved by half of what
  // whole blocks leave of the area it would take at the exact scale (Zoom x ratio), so that a
  // 128-pixel sample shows in the middle of its 128-pixel control, not in one corner of it.
  QPoint DeviceOrigin() const;
  // The control's pixel under picture pixel (x, y)'s top-left corner, rounded down.
  QPoint ControlPointOf(QPoint picturePixel) const;
  // The area of the control (its own pixels) that a rectangle of picture pixels covers.
  QRect ControlRectOf(const QRect& pictureRect) const;

  // The opacity of each pixel of the picture (Width x Height bytes, rows from the top, 255
  // opaque): pixels below 255 are shown over a light checkerboard. Only what is shown changes.
  // A plane whose size does not match the picture is not used, and giving the control another
  // picture drops the plane: set it after the picture.
  using TAlphaPlane = std::shared_ptr<const std::vector<std::uint8_t>>;
  const TAlphaPlane& Alpha() const { return FAlpha; }
  void SetAlpha(TAlphaPlane alpha);

  // A rectangle of picture pixels outlined by a thin frame over the picture: its outermost
  // ring of screen pixels white, the ring inside it black, so it shows on light and dark
  // pictures alike. Empty: no frame.
  QRect MarkedRect() const { return FMarkedRect; }
  void SetMarkedRect(const QRect& pictureRect);
  // The frame's colours, outer ring first.
  static QRgb MarkOuterColor() { return qRgb(255, 255, 255); }
  static QRgb MarkInnerColor() { return qRgb(0, 0, 0); }

  // Any button's release: control coordinates, which are the picture's pixel coordinates.
  // A left press holds the pointer until its release, so a release after dragging away
  // reports coordinates outside the control (negative, or at or beyond its size).
  std::function<void(TImage& sender, TMouseButton button, TShiftState shift, int x, int y)>
      OnMouseUp;

  // Hands a release to the image control under the pointer, if any, unless a modal window
  // blocks the image's window. Qt delivers a release to the widget that was pressed, but only a
  // left press on an image control captures the pointer: every other release belongs to
  // whatever is under the pointer. The application does this for every right and middle
  // release; the scroll box for left releases of presses on its background.
  static void HandOnRelease(const QMouseEvent& event);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // The paint at a scale factor other than 1: the picture and the frame in device pixels.
  void PaintInDevicePixels(QPainter& painter, const QRect& dirty, const TBitmap& bitmap);
  void PictureChanged();
  void UpdateOpacity();

  // The picture pixel under a control position, rounded toward the top-left.
  QPoint PicturePixelAt(const QPointF& position) const;

  TPicture FPicture;
  bool FAutoSize = false;
  bool FOpaque = false;
  int FZoom = 1;
  TAlphaPlane FAlpha;
  QRect FMarkedRect;
};

// Conversions from Qt's mouse terms (shared with the scroll box).
bool ToMouseButton(Qt::MouseButton button, TMouseButton& result);
TShiftState ToShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

}  // namespace penamo
