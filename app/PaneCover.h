#pragma once
// Lays a pane over the whole window, as help and the piano's curve are
// shown: the window takes the pane's outer size, and every other control is
// hidden meanwhile, so that neither Tab nor a screen reader reaches what
// lies under it. Closing gives the window back its laid-out size and shows
// again exactly what the pane hid. UI thread only.

#include <QPointer>
#include <QSize>
#include <QWidget>
#include <initializer_list>
#include <vector>

namespace harmolune {

class PaneCover {
  public:
    explicit PaneCover(QWidget& form) : form_(form) {}

    // Shows panes (children of the form) and grows the form to outerSize,
    // frame and title bar included.
    void Open(std::initializer_list<QWidget*> panes, QSize outerSize);
    // Hides them and gives the form clientSize.
    void Close(std::initializer_list<QWidget*> panes, QSize clientSize);

  private:
    QWidget& form_;
    std::vector<QPointer<QWidget>> covered_;
};

}  // namespace harmolune
