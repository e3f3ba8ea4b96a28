#include "app/PaneCover.h"

#include <QString>
#include <algorithm>

namespace harmolune {

void PaneCover::Open(std::initializer_list<QWidget*> panes, QSize outerSize) {
    // The announcer's notices show and hide themselves, and what was hidden
    // before stays hidden after.
    for (QWidget* w : form_.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const bool pane = std::find(panes.begin(), panes.end(), w) != panes.end();
        if (!pane && !w->isHidden() && w->objectName() != QStringLiteral("Notice")) {
            covered_.emplace_back(w);
            w->hide();
        }
    }
    for (QWidget* pane : panes) {
        pane->show();
    }
    // The frame is known only once the window is on screen; with no window
    // manager it is empty.
    const QSize frame = form_.frameGeometry().size() - form_.geometry().size();
    form_.setFixedSize(outerSize - frame);
}

void PaneCover::Close(std::initializer_list<QWidget*> panes, QSize clientSize) {
    for (QWidget* pane : panes) {
        pane->hide();
    }
    for (const QPointer<QWidget>& w : covered_) {
        if (w) {
            w->show();
        }
    }
    covered_.clear();
    form_.setFixedSize(clientSize);
}

}  // namespace harmolune
