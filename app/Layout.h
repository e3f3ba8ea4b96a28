#pragma once
// The controls of the main window: kind, container, stacking, position and
// size in twips, texts, tooltips, colours and fonts, all in one table
// (Layout.cpp), and the builder that turns the table into widgets.
// UI thread only.

#include <QSize>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTextBrowser;
class QWidget;

namespace harmolune {

class FlatButton;

namespace layout {

// 1/1440 inch; 15 twips make one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

inline constexpr QSize kClientSize{Px(4515), Px(4095)};  // 301 x 273
// The outer size, frame and title bar included, while help is shown.
inline constexpr QSize kHelpOuterSize{Px(12000), Px(6000)};  // 800 x 400
// The fonts, in pixels: MS Sans Serif 8.25 and 13.5 points at 96 dpi.
inline constexpr int kDefaultFontPx = 11;
inline constexpr int kDisplayFontPx = 18;

// Where Command1 ("Fermer") stands while help is shown, relative to the
// window's client area.
inline constexpr int kCommand1Left = Px(10560);
inline constexpr int kCommand1Top = Px(120);

}  // namespace layout

// The controls that the window's handlers use, all owned by the form.
struct Controls {
    std::array<FlatButton*, 12> clavier{};  // by key index 0 (Do) to 11 (Si)
    std::array<FlatButton*, 6> corde{};     // from the lowest string: indices 4 ... 28
    QScrollBar* hScroll1 = nullptr;
    QLineEdit* text1 = nullptr;
    QLabel* label1 = nullptr;         // measured frequency
    QLabel* label2 = nullptr;         // note name
    QLabel* label3 = nullptr;         // octave of the note
    QLabel* label4 = nullptr;         // reference frequency
    QPushButton* command0 = nullptr;  // "Aide..."
    QPushButton* command1 = nullptr;  // "Fermer"
    QPushButton* command2 = nullptr;  // "Échantillonner l'instrument"
    QTextBrowser* richTextBox1 = nullptr;
};

// Creates every control of the table inside form, in its container and
// stacking order, with what screen readers call it, sets the form's font,
// fixed client size and Tab order, and returns the controls the handlers
// need. Help and Command1 start hidden.
Controls BuildLayout(QWidget& form);

}  // namespace harmolune
