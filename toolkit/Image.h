// The image control: draws its picture unscaled at its top-left corner and nothing else, so
// the parent's background shows wherever the picture does not reach.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

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

 private:
  void PictureChanged();
  void UpdateOpacity();

  TPicture FPicture;
  bool FAutoSize = false;
  bool FOpaque = false;
};

// Conversions from Qt's mouse terms (shared with the scroll box).
bool ToMouseButton(Qt::MouseButton button, TMouseButton& result);
TShiftState ToShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

}  // namespace penamo
