#include "app/FlatButton.h"

#include <QKeyEvent>
#include <QPainter>

namespace harmolune {

FlatButton::FlatButton(int index, const QString& tag, QColor fill, QWidget* parent)
    : QAbstractButton(parent), index_(index), tag_(tag), fill_(fill) {
    setProperty("Tag", tag);
    setFocusPolicy(Qt::TabFocus);
}

QColor FlatButton::FocusColour() const {
    return fill_.lightness() < 128 ? QColor(255, 255, 255) : QColor(0, 0, 0);
}

void FlatButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), fill_);
    // A one-pixel outline keeps neighbouring white keys apart: they overlap
    // by exactly that pixel, so the two outlines fall on the same column.
    p.setPen(QColor(0, 0, 0));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    // The first key holds the focus from the start, so that a screen reader
    // names it at once; its frame shows only once the keyboard has moved the
    // focus, as focus cues do elsewhere on the desktop.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        // Two pixels wide, two in from the edge: clear of the outline, and
        // it still fits the 13-pixel string buttons.
        p.setPen(QPen(FocusColour(), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawRect(QRectF(rect()).adjusted(3, 3, -3, -3));
    }
}

void FlatButton::keyPressEvent(QKeyEvent* event) {
    // QAbstractButton presses on Space only.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

}  // namespace harmolune
