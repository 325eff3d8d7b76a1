// The main window's toolbar: a strip along the top with an etched line along its bottom edge.
// Its items (buttons and separators, its child widgets) stand side by side from the left in
// the order of their positions and never wrap; when one of them changes width, those after it
// move along.
#pragma once

#include <QFrame>
#include <functional>

namespace penamo {

class TToolBar : public QFrame {
  Q_OBJECT

 public:
  explicit TToolBar(QWidget* parent = nullptr);

  // After every change of the toolbar's size, before its items are placed again.
  std::function<void(TToolBar& sender)> OnResize;

  // Places the items one after another from the left edge, each at its own top.
  void ArrangeItems();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace penamo
