#include "ToolBar.h"

#include "Application.h"

#include <QPainter>
#include <algorithm>
#include <vector>

#include "SystemColors.h"

namespace penamo {

TToolBar::TToolBar(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::NoFrame);
}

void TToolBar::TakeNewItems() {
  std::erase_if(FOrder, [this](const QPointer<QWidget>& item) {
    return item.isNull() || item->parentWidget() != this;
  });
  for (QObject* object : children()) {
    auto* item = qobject_cast<QWidget*>(object);
    if (item == nullptr || item->isWindow()) continue;
    if (std::find(FOrder.begin(), FOrder.end(), item) != FOrder.end()) continue;
    // Before the first item that stands further right; children come in creation order, so
    // equal positions keep it.
    const auto place =
        std::find_if(FOrder.begin(), FOrder.end(),
                     [item](const QPointer<QWidget>& other) { return other->x() > item->x(); });
    FOrder.insert(place, item);
  }
}

std::vector<QWidget*> TToolBar::Items() {
  TakeNewItems();
  return {FOrder.begin(), FOrder.end()};
}

void TToolBar::ArrangeItems() {
  // The order is the one taken when each item joined, never today's positions: a toolbar too
  // narrow for its items piles them up at one place, and sorting by position then would
  // scramble them for good.
  int left = 0;
  for (QWidget* item : Items()) {
    item->move(left, item->y());
    left += item->width();
  }
}

void TToolBar::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  // The etched bottom edge: a shadow line over a highlight line.
  QPainter painter(this);
  const int bottom = height() - 1;
  painter.setPen(ColorToQColor(clBtnShadow));
  painter.drawLine(0, bottom - 1, width() - 1, bottom - 1);
  painter.setPen(ColorToQColor(clBtnHighlight));
  painter.drawLine(0, bottom, width() - 1, bottom);
}

void TToolBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  if (OnResize) Guarded(this, [this] { OnResize(*this); });
  ArrangeItems();
}

}  // namespace penamo
