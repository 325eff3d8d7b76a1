// The main window's toolbar: a strip along the top with an etched line along its bottom edge.
// Its items (buttons and separators, its child widgets) stand side by side from the left and
// never wrap; when one of them changes width, those after it move along.
//
// The order of the items is fixed once, when the toolbar first arranges them: by their left
// positions then (the layout's positions), creation order breaking ties. An item added later
// joins at the place its left position gives it among the others when the toolbar next arranges
// them. From then on the order never changes, whatever the positions become: a toolbar made
// too narrow for its items and wide again shows them as before.
#pragma once

#include <QFrame>
#include <QPointer>
#include <functional>
#include <vector>

namespace penamo {

class TToolBar : public QFrame {
  Q_OBJECT

 public:
  explicit TToolBar(QWidget* parent = nullptr);

  // After every change of the toolbar's size, before its items are placed again.
  std::function<void(TToolBar& sender)> OnResize;

  // Places the items one after another from the left edge, each at its own top, in their order.
  void ArrangeItems();
  // The items in their order on the bar (those not yet arranged by their positions, after).
  std::vector<QWidget*> Items();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Gives every item not yet in the order its place, and forgets those gone.
  void TakeNewItems();

  std::vector<QPointer<QWidget>> FOrder;
};

}  // namespace penamo
