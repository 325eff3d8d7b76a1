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

void TToolBar::ArrangeItems() {
  std::vector<QWidget*> items;
  for (QObject* object : children()) {
    auto* item = qobject_cast<QWidget*>(object);
    if (item != nullptr && !item->isWindow()) items.push_back(item);
  }
  // The order on the bar is the order of the positions; equal positions keep creation order.
  std::stable_sort(items.begin(), items.end(),
                   [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
  int left = 0;
  for (QWidget* item : items) {
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
