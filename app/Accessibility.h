#pragma once
// What assistive technology reads of the window beyond what Qt's own
// accessible widgets say: decorations and the headings over the displays are
// kept from screen readers (the names of what they label carry their words),
// each display is read as its heading and its value ("Note : La"), the tuning
// display as its reading in words, the panels
// are groups rather than windows, the form is a window, and the octave
// selector a spin button. The flats are written out for the synthesiser, and
// an announcer says what happens without moving the focus. UI thread only.
//
// Each Mark function must be called on a freshly made widget, before its
// text is set or it is shown: Qt creates a widget's accessible interface the
// first time anything asks for it and keeps it for the widget's life. The
// first call puts these interfaces in front of Qt's own.

#include <QString>
#include <array>
#include <cstddef>

class QLabel;
class QScrollBar;
class QTimer;
class QWidget;

namespace harmolune::accessibility {

// A heading, picture or line that a screen reader should pass over.
void MarkHidden(QWidget& widget);

// A display read as DisplayName(heading, its text), kept current by the
// name-changed event that QLabel::setText sends.
void MarkDisplay(QLabel& display, const QString& heading);

// The tuning display: one object, reached with Tab, read as its reading in
// words, which SetReadingName sets. That name changes several times a second
// while a note sounds, and Orca speaks every name change of the object that
// has the focus: the changes are told to screen readers only while the
// display does not have it, and once as it takes it, before the focus moves
// there, so that what Orca then reads is current.
void MarkReading(QWidget& display);
void SetReadingName(QWidget& display, const QString& name);

// A frame that groups controls: a panel, named by its accessible name.
void MarkGroup(QWidget& frame);

// A picture of data (the piano's curve): one object of role chart, named
// and described by what setAccessibleName and setAccessibleDescription say
// of it.
void MarkChart(QWidget& plot);

// The top-level form: a window named by its title.
void MarkWindow(QWidget& form);

// The octave scroll bar, read as what it does: a value stepped by the arrow
// keys, said as the octave ("Octave", 4) rather than as a scroll bar, which
// screen readers read as a percentage of its range.
void MarkStepper(QScrollBar& bar);

// While selector has the focus, readOut shows it in the highlight colours:
// the octave scroll bar draws no focus of its own, and its read-out covers
// the middle of it.
void ShowFocusOf(QWidget& selector, QWidget& readOut);

// Says short texts through the screen reader without moving the focus. Orca
// drops name changes of labels and description changes of whatever has no
// focus, but presents an object of role notification when it shows. The
// announcer is a few such objects, each named by the text it says and shown
// to say it, then hidden again, so that a review of the screen does not read
// old news. They draw nothing and take neither clicks nor the focus.
class Announcer {
  public:
    // Children of form, in its top left corner.
    explicit Announcer(QWidget& form);
    void Say(const QString& text);

  private:
    // A screen reader reads the name of a notice some time after it shows,
    // when the next text may already be there: texts said in quick
    // succession go to notices of their own, in turn.
    struct Notice {
        QWidget* widget = nullptr;
        QTimer* hider = nullptr;  // hides it once it has been read
    };
    std::array<Notice, 3> notices_{};
    std::size_t last_ = 0;
};

// The text as a speech synthesiser should read it: the flats' names written out
// ("Mi bémol", "Si bémol"), since "Mib" and "Sib" are said as written. The
// sharps need nothing: "Do#" is said "Do dièse".
QString SpokenText(const QString& text);

// "Note : La" (a French space before the colon); the heading alone while the
// display is empty. The value is given as SpokenText.
QString DisplayName(const QString& heading, const QString& value);

}  // namespace harmolune::accessibility
