#pragma once
// What assistive technology reads of the window beyond what Qt's own
// accessible widgets say: decorations and the headings over the displays are
// kept from screen readers (the names of what they label carry their words),
// each display is read as its heading and its value ("Note : La"), the panels
// are groups rather than windows, and the form is a window. UI thread only.
//
// Each Mark function must be called on a freshly made widget, before its
// text is set or it is shown: Qt creates a widget's accessible interface the
// first time anything asks for it and keeps it for the widget's life. The
// first call puts these interfaces in front of Qt's own.

#include <QString>

class QLabel;
class QWidget;

namespace harmolune::accessibility {

// A heading, picture or line that a screen reader should pass over.
void MarkHidden(QWidget& widget);

// A display read as DisplayName(heading, its text), kept current by the
// name-changed event that QLabel::setText sends.
void MarkDisplay(QLabel& display, const QString& heading);

// A frame that groups controls: a panel, named by its accessible name.
void MarkGroup(QWidget& frame);

// The top-level form: a window named by its title.
void MarkWindow(QWidget& form);

// While selector has the focus, readOut shows it in the highlight colours:
// the octave scroll bar draws no focus of its own, and its read-out covers
// the middle of it.
void ShowFocusOf(QWidget& selector, QWidget& readOut);

// "Note : La" (a French space before the colon); the heading alone while the
// display is empty.
QString DisplayName(const QString& heading, const QString& value);

}  // namespace harmolune::accessibility
