#include "app/FlatButton.h"

#include <QPainter>

namespace harmolune {

FlatButton::FlatButton(int index, const QString& tag, QColor fill, QWidget* parent)
    : QAbstractButton(parent), index_(index), tag_(tag), fill_(fill) {
    setProperty("Tag", tag);
}

void FlatButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), fill_);
    // A one-pixel outline keeps neighbouring white keys apart: they overlap
    // by exactly that pixel, so the two outlines fall on the same column.
    p.setPen(QColor(0, 0, 0));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace harmolune
