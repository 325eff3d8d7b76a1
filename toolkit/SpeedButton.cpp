#include "SpeedButton.h"

#include "Application.h"

#include <QtWidgets/qdrawutil.h>
#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "BitmapPainter.h"

namespace penamo {

namespace {

QRgb ToRgb(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return qRgb(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
              static_cast<int>((rgb >> 16) & 0xFF));
}

TColor FromRgb(QRgb rgb) {
  return RGBColor(static_cast<std::uint8_t>(qRed(rgb)), static_cast<std::uint8_t>(qGreen(rgb)),
                  static_cast<std::uint8_t>(qBlue(rgb)));
}

// The platform's one-pixel 3-D edge on the outermost ring of `r`: the top-left colour on the
// top row and left column, the bottom-right colour on the bottom row and right column, which
// also take the top-right and bottom-left corners.
void DrawEdge(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
  if (r.width() <= 0 || r.height() <= 0) return;
  const int right = r.left() + r.width() - 1;
  const int bottom = r.top() + r.height() - 1;
  painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
  painter.fillRect(QRect(r.left(), bottom, r.width(), 1), bottomRight);
  painter.fillRect(QRect(right, r.top(), 1, r.height()), bottomRight);
}

TGlyphCache* GlyphCacheInstance = nullptr;

}  // namespace

// ---- TGlyphList ----

int TGlyphList::Add(const QImage& cell) {
  QImage masked = cell.convertToFormat(QImage::Format_ARGB32);
  if (masked.isNull() || masked.width() != FWidth || masked.height() != FHeight) {
    throw EInvalidOperation("イメージの置き換えができません");
  }
  // The cell's own bottom-left colour is its transparent colour.
  const QRgb transparent = masked.pixel(0, masked.height() - 1) | 0xFF000000u;
  for (int y = 0; y < masked.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(masked.scanLine(y));
    for (int x = 0; x < masked.width(); ++x) {
      if ((row[x] | 0xFF000000u) == transparent) row[x] = 0;
    }
  }
  auto free = std::find(FInUse.begin(), FInUse.end(), false);
  const auto index = static_cast<std::size_t>(free - FInUse.begin());
  if (free == FInUse.end()) {
    FImages.push_back(std::move(masked));
    FInUse.push_back(true);
  } else {
    FImages[index] = std::move(masked);
    FInUse[index] = true;
  }
  return static_cast<int>(index);
}

void TGlyphList::Delete(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= FInUse.size()) return;
  FInUse[static_cast<std::size_t>(index)] = false;
  FImages[static_cast<std::size_t>(index)] = QImage();
}

int TGlyphList::Count() const {
  return static_cast<int>(std::count(FInUse.begin(), FInUse.end(), true));
}

const QImage& TGlyphList::Image(int index) const {
  return FImages.at(static_cast<std::size_t>(index));
}

// ---- TGlyphCache ----

TGlyphCache* TGlyphCache::Instance() {
  return GlyphCacheInstance;
}

TGlyphCache& TGlyphCache::Acquire() {
  if (GlyphCacheInstance == nullptr) GlyphCacheInstance = new TGlyphCache;
  return *GlyphCacheInstance;
}

void TGlyphCache::ReleaseIfEmpty() {
  if (GlyphCacheInstance != nullptr && GlyphCacheInstance->FLists.empty()) {
    delete GlyphCacheInstance;
    GlyphCacheInstance = nullptr;
  }
}

TGlyphList& TGlyphCache::GetList(int width, int height) {
  for (auto it = FLists.rbegin(); it != FLists.rend(); ++it) {
    if ((*it)->Width() == width && (*it)->Height() == height) return **it;
  }
  FLists.push_back(std::make_unique<TGlyphList>(width, height));
  return *FLists.back();
}

void TGlyphCache::ReturnList(TGlyphList& list) {
  if (list.Count() != 0) return;
  std::erase_if(FLists,
                [&list](const std::unique_ptr<TGlyphList>& held) { return held.get() == &list; });
}

// ---- TPatternManager ----

namespace {

struct TPatternTile {
  TColor Color1;
  TColor Color2;
  QImage Tile;
};

std::mutex& PatternLock() {
  static std::mutex lock;
  return lock;
}

std::vector<TPatternTile>& PatternTiles() {
  static std::vector<TPatternTile> tiles;
  return tiles;
}

}  // namespace

QImage TPatternManager::Pattern(TColor color1, TColor color2) {
  // System colours are resolved first, so one tile serves every role with the same colour.
  const TColor rgb1 = ColorToRGB(color1);
  const TColor rgb2 = ColorToRGB(color2);
  const std::lock_guard<std::mutex> guard(PatternLock());
  for (const TPatternTile& tile : PatternTiles()) {
    if (tile.Color1 == rgb1 && tile.Color2 == rgb2) return tile.Tile;
  }
  QImage tile(8, 8, QImage::Format_RGB32);
  const QRgb first = ToRgb(rgb1);
  const QRgb second = ToRgb(rgb2);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x)
      tile.setPixel(x, y, (x + y) % 2 == 0 ? first : second);
  }
  PatternTiles().push_back({rgb1, rgb2, tile});
  return tile;
}

int TPatternManager::Count() {
  const std::lock_guard<std::mutex> guard(PatternLock());
  return static_cast<int>(PatternTiles().size());
}

// ---- TButtonGlyph ----

TButtonGlyph::TButtonGlyph() {
  TGlyphCache::Acquire();
  FGlyph.OnChange = [this](TGraphic&) { GlyphChanged(); };
}

TButtonGlyph::~TButtonGlyph() {
  FGlyph.OnChange = nullptr;
  Invalidate();
  TGlyphCache::ReleaseIfEmpty();
}

void TButtonGlyph::SetGlyph(const TBitmap* strip) {
  Invalidate();
  FGlyph.OnChange = nullptr;
  FGlyph.ShareFrom(strip);
  FGlyph.OnChange = [this](TGraphic&) { GlyphChanged(); };
  const int width = FGlyph.Width();
  const int height = FGlyph.Height();
  if (height > 0) {
    TakeTransparentColor();
    // A strip of zero width is no multiple worth counting: it would leave no cell at all.
    if (width > 0 && width % height == 0) {
      const int cells = width / height;
      FNumGlyphs = cells <= 4 ? cells : 1;
    }
  }
  if (OnChange) OnChange();
}

void TButtonGlyph::GlyphChanged() {
  Invalidate();
  TakeTransparentColor();
  if (OnChange) OnChange();
}

void TButtonGlyph::SetNumGlyphs(int numGlyphs) {
  if (numGlyphs <= 0) return;
  numGlyphs = std::min(numGlyphs, 4);
  if (numGlyphs == FNumGlyphs) return;
  Invalidate();
  FNumGlyphs = numGlyphs;
  TakeTransparentColor();
  if (OnChange) OnChange();
}

void TButtonGlyph::TakeTransparentColor() {
  if (FGlyph.Height() <= 0) return;
  if (FGlyph.Image().BitsPerPixel() == 1) {
    FTransparentColor = clWhite;
    return;
  }
  const QImage strip = BitmapToImage(FGlyph);
  if (!strip.isNull()) FTransparentColor = FromRgb(strip.pixel(0, strip.height() - 1));
}

void TButtonGlyph::Invalidate() {
  for (int& index : FIndexes) {
    if (index >= 0 && FList != nullptr) FList->Delete(index);
    index = -1;
  }
  if (FList != nullptr) {
    if (TGlyphCache* cache = TGlyphCache::Instance()) cache->ReturnList(*FList);
    FList = nullptr;
  }
}

int TButtonGlyph::FaceImage(TButtonFace face) {
  // The pressed face has a cell of its own only in strips of three or more.
  if (face == TButtonFace::bfPressed && FNumGlyphs < 3) face = TButtonFace::bfUp;
  const auto number = static_cast<int>(face);
  int& index = FIndexes[number];
  if (index >= 0) return index;
  const int cellWidth = FGlyph.Width() / FNumGlyphs;
  const int cellHeight = FGlyph.Height();
  // Nothing to draw from a strip without pixels, or one too narrow for its cells.
  if (FGlyph.Empty() || cellWidth <= 0 || cellHeight <= 0) return -1;
  if (FList == nullptr) FList = &TGlyphCache::Acquire().GetList(cellWidth, cellHeight);
  index = FList->Add(BuildCell(face, number < FNumGlyphs ? number : 0));
  return index;
}

const QImage* TButtonGlyph::FaceImageData(TButtonFace face) {
  const int index = FaceImage(face);
  return index < 0 ? nullptr : &FList->Image(index);
}

QImage TButtonGlyph::BuildCell(TButtonFace face, int cell) const {
  const QImage strip = BitmapToImage(FGlyph);
  const int width = FGlyph.Width() / FNumGlyphs;
  const int height = FGlyph.Height();
  QImage source = strip.copy(cell * width, 0, width, height);
  if (face != TButtonFace::bfDisabled) return source;

  const QRgb highlight = ToRgb(clBtnHighlight);
  const QRgb shadow = ToRgb(clBtnShadow);
  const QRgb buttonFace = ToRgb(clBtnFace);
  QImage result = source;
  if (FNumGlyphs >= 2) {
    // Three recolourings, each masked from the unaltered cell; the later one wins.
    const QRgb white = ToRgb(clWhite);
    const QRgb gray = ToRgb(clGray);
    const QRgb transparent = ToRgb(FTransparentColor);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const QRgb pixel = source.pixel(x, y) | 0xFF000000u;
        QRgb out = pixel;
        if (pixel == white) out = highlight;
        if (pixel == gray) out = shadow;
        if (pixel == transparent) out = buttonFace;
        result.setPixel(x, y, out);
      }
    }
    return result;
  }

  // Embossed from the black pixels (the 0 bits of a one-bit strip): highlight one pixel down
  // and right, shadow in place; nothing else of the glyph survives.
  const bool oneBit = FGlyph.Image().BitsPerPixel() == 1;
  const auto isInk = [&](int x, int y) {
    if (oneBit) {
      const std::uint8_t* row = FGlyph.ConstRowAddress(y);
      const auto ux = static_cast<unsigned>(x);
      return ((row[ux / 8] >> (7 - ux % 8)) & 1u) == 0;
    }
    return (source.pixel(x, y) | 0xFF000000u) == ToRgb(clBlack);
  };
  result.fill(buttonFace);
  for (int y = 0; y + 1 < height; ++y) {
    for (int x = 0; x + 1 < width; ++x) {
      if (isInk(x, y)) result.setPixel(x + 1, y + 1, highlight);
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (isInk(x, y)) result.setPixel(x, y, shadow);
    }
  }
  return result;
}

QRect TButtonGlyph::Draw(QPainter& painter, const QRect& client, QPoint offset,
                         const QString& caption, TButtonLayout layout, int margin, int spacing,
                         TButtonFace face, bool transparent, const QColor& faceColor) {
  const QImage* image = FaceImageData(face);
  const QSize glyphSize = image != nullptr ? image->size() : QSize(0, 0);
  const QSize textSize =
      caption.isEmpty() ? QSize(0, 0) : painter.fontMetrics().size(Qt::TextSingleLine, caption);
  if (caption.isEmpty() || image == nullptr) spacing = 0;

  // Glyph and caption as one block, centred when the margin is -1, else that far from the
  // edge the layout names.
  const bool across = layout == TButtonLayout::blGlyphLeft || layout == TButtonLayout::blGlyphRight;
  const int length = client.width();
  const int depth = client.height();
  QPoint glyphAt;
  QPoint textAt;
  if (across) {
    const int total = glyphSize.width() + spacing + textSize.width();
    const int start = margin == -1 ? (length - total + 1) / 2 : margin;
    const int glyphY = (depth - glyphSize.height() + 1) / 2;
    const int textY = (depth - textSize.height() + 1) / 2;
    if (layout == TButtonLayout::blGlyphLeft) {
      glyphAt = QPoint(start, glyphY);
      textAt = QPoint(start + glyphSize.width() + spacing, textY);
    } else {
      glyphAt = QPoint(length - start - glyphSize.width(), glyphY);
      textAt = QPoint(glyphAt.x() - spacing - textSize.width(), textY);
    }
  } else {
    const int total = glyphSize.height() + spacing + textSize.height();
    const int start = margin == -1 ? (depth - total + 1) / 2 : margin;
    const int glyphX = (length - glyphSize.width() + 1) / 2;
    const int textX = (length - textSize.width() + 1) / 2;
    if (layout == TButtonLayout::blGlyphTop) {
      glyphAt = QPoint(glyphX, start);
      textAt = QPoint(textX, start + glyphSize.height() + spacing);
    } else {
      glyphAt = QPoint(glyphX, depth - start - glyphSize.height());
      textAt = QPoint(textX, glyphAt.y() - spacing - textSize.height());
    }
  }
  glyphAt += client.topLeft() + offset;
  textAt += client.topLeft() + offset;

  QRect glyphRect;
  if (image != nullptr) {
    glyphRect = QRect(glyphAt, glyphSize);
    // A latched face always shows the checkerboard through its transparent pixels.
    if (!transparent && face != TButtonFace::bfLatched) painter.fillRect(glyphRect, faceColor);
    painter.drawImage(glyphAt, *image);
  }
  if (!caption.isEmpty()) {
    painter.setPen(ColorToQColor(face == TButtonFace::bfDisabled ? clBtnShadow : clWindowText));
    painter.drawText(QRect(textAt, textSize), Qt::AlignLeft | Qt::AlignTop, caption);
  }
  return glyphRect;
}

// ---- TSpeedButton ----

TSpeedButton::TSpeedButton(QWidget* parent) : QWidget(parent) {
  resize(23, 22);
  setFocusPolicy(Qt::NoFocus);
  // Pointer moves while no button is held are needed to notice the pointer coming back.
  setMouseTracking(true);
  FGlyph.OnChange = [this] { update(); };
}

TSpeedButton::~TSpeedButton() {
  FGlyph.OnChange = nullptr;
}

void TSpeedButton::SetFlat(bool flat) {
  if (flat == FFlat) return;
  FFlat = flat;
  update();
}

void TSpeedButton::SetGroupIndex(std::int32_t groupIndex) {
  if (groupIndex == FGroupIndex) return;
  FGroupIndex = groupIndex;
  NotifyGroup();
}

void TSpeedButton::SetDown(bool down) {
  if (FGroupIndex == 0) down = false;
  if (down == FDown) return;
  // The down member of a group without AllowAllUp comes up only when another goes down.
  if (FDown && !FAllowAllUp) return;
  FDown = down;
  if (down) {
    if (FFace == TButtonFace::bfUp) update();
    FFace = TButtonFace::bfLatched;
    NotifyGroup();
  } else {
    FFace = TButtonFace::bfUp;
    repaint();
  }
}

void TSpeedButton::SetAllowAllUp(bool allowAllUp) {
  if (allowAllUp == FAllowAllUp) return;
  FAllowAllUp = allowAllUp;
  NotifyGroup();
}

void TSpeedButton::SetGlyph(const TBitmap* strip) {
  FGlyph.SetGlyph(strip);
}

void TSpeedButton::SetNumGlyphs(int numGlyphs) {
  FGlyph.SetNumGlyphs(numGlyphs);
}

void TSpeedButton::SetLayout(TButtonLayout layout) {
  if (layout == FLayout) return;
  FLayout = layout;
  update();
}

void TSpeedButton::SetMargin(std::int32_t margin) {
  if (margin == FMargin || margin < -1) return;
  FMargin = margin;
  update();
}

void TSpeedButton::SetSpacing(std::int32_t spacing) {
  if (spacing == FSpacing) return;
  FSpacing = spacing;
  update();
}

void TSpeedButton::SetTransparent(bool transparent) {
  if (transparent == FTransparent) return;
  FTransparent = transparent;
  // An opaque button covers its whole rectangle, so Qt need not paint the parent under it.
  setAttribute(Qt::WA_OpaquePaintEvent, !FTransparent);
  update();
}

void TSpeedButton::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  update();
}

bool TSpeedButton::Enabled() const {
  // Qt disables the children of a disabled window as well; only the button's own setting
  // counts here, so buttons keep their look while a modal window blocks theirs.
  return !testAttribute(Qt::WA_ForceDisabled);
}

void TSpeedButton::SetEnabled(bool enabled) {
  setEnabled(enabled);
}

void TSpeedButton::SetCaption(const QString& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  update();
}

void TSpeedButton::Loaded() {
  FLastEnabled = Enabled();
  FGlyph.FaceImage(FLastEnabled ? TButtonFace::bfUp : TButtonFace::bfDisabled);
}

// Qt's widget code is built without exception support: an error must not unwind through it, so
// handlers run under the application's guard, which reports the error and carries on.
void TSpeedButton::Click() {
  if (OnClick) Guarded(this, [this] { OnClick(*this); });
}

bool TSpeedButton::Inside(QPoint point) const {
  return point.x() >= 0 && point.x() < width() && point.y() >= 0 && point.y() < height();
}

// ---- pointer ----

namespace {

QPoint PointOf(const QMouseEvent& event) {
  const QPointF p = event.position();
  return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

}  // namespace

void TSpeedButton::LeftPressed() {
  if (!FDown) {
    FFace = TButtonFace::bfPressed;
    update();
  }
  // Qt sends every pointer event to this button until the release, wherever the pointer goes.
  FPressing = true;
}

void TSpeedButton::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) LeftPressed();
}

void TSpeedButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt delivers the second press of a double click as this event only: it is a press first.
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  LeftPressed();
  if (FDown && OnDblClick) Guarded(this, [this] { OnDblClick(*this); });
}

void TSpeedButton::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (FPressing) {
    const TButtonFace face = FDown                     ? TButtonFace::bfLatched
                             : Inside(PointOf(*event)) ? TButtonFace::bfPressed
                                                       : TButtonFace::bfUp;
    if (face != FFace) {
      FFace = face;
      update();
    }
  } else if (!FMouseInside) {
    RefreshHover();
  }
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || !FPressing) return;
  FPressing = false;
  const bool inside = Inside(PointOf(*event));
  // The click handler may close the window that holds this button.
  const QPointer<TSpeedButton> alive(this);
  if (FGroupIndex == 0) {
    // Back to idle before the handler runs, so a dialog it opens finds the button at rest.
    FFace = TButtonFace::bfUp;
    FMouseInside = false;
    if (inside) {
      update();
      Click();
    }
  } else if (inside) {
    SetDown(!FDown);
    if (FDown) repaint();
    Click();
  } else {
    if (FDown) FFace = TButtonFace::bfLatched;
    repaint();
  }
  if (alive) RefreshHover();
}

void TSpeedButton::MouseEntered() {
  const QWidget* grabber = QWidget::mouseGrabber();
  if (!FFlat || FMouseInside || !Enabled() || (grabber != nullptr && grabber != this)) return;
  FMouseInside = true;
  repaint();
}

void TSpeedButton::MouseLeft() {
  if (!FFlat || !FMouseInside || !Enabled() || FPressing) return;
  FMouseInside = false;
  update();
}

void TSpeedButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  MouseEntered();
}

void TSpeedButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  MouseLeft();
}

void TSpeedButton::RefreshHover() {
  if (!FFlat || !Enabled()) return;
  if (QApplication::widgetAt(QCursor::pos()) == this) {
    FMouseInside = false;
    MouseEntered();
  } else {
    FMouseInside = true;
    MouseLeft();
  }
}

void TSpeedButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      if (Enabled() != FLastEnabled) EnabledChanged();
      break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
      // The system colours are baked into the face images.
      FGlyph.Invalidate();
      SyncFaceWithEnabled();
      FGlyph.FaceImage(FFace);
      update();
      break;
    default:
      break;
  }
}

void TSpeedButton::EnabledChanged() {
  FLastEnabled = Enabled();
  FGlyph.FaceImage(FLastEnabled ? TButtonFace::bfUp : TButtonFace::bfDisabled);
  RefreshHover();
  repaint();
}

// ---- groups ----

void TSpeedButton::NotifyGroup() {
  if (FGroupIndex == 0 || parentWidget() == nullptr) return;
  // Copy: a handler may not change the children, but the list must not shift under us.
  const QObjectList siblings = parentWidget()->children();
  for (QObject* sibling : siblings) {
    if (auto* button = qobject_cast<TSpeedButton*>(sibling)) {
      button->GroupNotification(FGroupIndex, *this);
    }
  }
}

void TSpeedButton::GroupNotification(std::int32_t groupIndex, TSpeedButton& sender) {
  if (&sender == this || groupIndex != FGroupIndex) return;
  if (sender.FDown && FDown) {
    FDown = false;
    FFace = TButtonFace::bfUp;
    update();
  }
  FAllowAllUp = sender.FAllowAllUp;
}

// ---- painting ----

void TSpeedButton::SyncFaceWithEnabled() {
  if (!Enabled()) {
    FFace = TButtonFace::bfDisabled;
    FPressing = false;
  } else if (FFace == TButtonFace::bfDisabled) {
    FFace = FDown && FGroupIndex != 0 ? TButtonFace::bfLatched : TButtonFace::bfUp;
  }
}

void TSpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter);
}

void TSpeedButton::Paint(QPainter& painter) {
  SyncFaceWithEnabled();
  QRect r = rect();
  const bool pushed = FFace == TButtonFace::bfPressed || FFace == TButtonFace::bfLatched;
  const QColor highlight = ColorToQColor(clBtnHighlight);
  const QColor shadow = ColorToQColor(clBtnShadow);
  const QColor buttonFace = ColorToQColor(clBtnFace);
  if (FFlat) {
    if (pushed || (FMouseInside && FFace != TButtonFace::bfDisabled)) {
      if (pushed) {
        DrawEdge(painter, r, shadow, highlight);
      } else {
        DrawEdge(painter, r, highlight, shadow);
      }
      if (!FTransparent) painter.fillRect(r.adjusted(1, 1, -1, -1), buttonFace);
    } else if (!FTransparent) {
      painter.fillRect(r, ColorToQColor(FColor));
    }
    r.adjust(1, 1, -1, -1);
  } else {
    QPalette colours = palette();
    colours.setColor(QPalette::Button, ColorToQColor(FColor));
    colours.setColor(QPalette::Light, highlight);
    colours.setColor(QPalette::Dark, shadow);
    const QBrush fill(ColorToQColor(FColor));
    qDrawWinButton(&painter, r, colours, pushed, &fill);
    r.adjust(2, 2, -2, -2);
  }

  QPoint offset(0, 0);
  if (pushed) {
    offset = QPoint(1, 1);
    if (FFace == TButtonFace::bfLatched && (!FFlat || !FMouseInside)) {
      painter.fillRect(r, QBrush(TPatternManager::Pattern(clBtnHighlight, clBtnFace)));
    }
  }
  FGlyph.Draw(painter, r, offset, FCaption, FLayout, FMargin, FSpacing, FFace, FTransparent,
              buttonFace);
}

}  // namespace penamo
