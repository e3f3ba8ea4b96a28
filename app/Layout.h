#pragma once
// The controls of the main window: kind, container, stacking, position and
// size in twips, texts, tooltips, colours and fonts, all in one table
// (Layout.cpp), and the builder that turns the table into widgets.
// UI thread only.

#include <QSize>
#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTextBrowser;
class QWidget;

namespace harmolune {

class CurvePane;
class FlatButton;
class TuningDisplay;

namespace layout {

// 1/1440 inch; 15 twips make one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

// The strip of the tuning display lies below the controls, as wide as the
// window, which it makes taller by its height: the display, and under it the
// row of the piano's curve (its style, "Nouveau piano", "Courbe...").
inline constexpr int kStripTopTwips = 4095;
inline constexpr int kStripHeightTwips = 2400;
inline constexpr QSize kClientSize{Px(4515), Px(kStripTopTwips + kStripHeightTwips)};  // 301 x 433
// The outer sizes, frame and title bar included, while help is shown and
// while the curve is: the curve's pane holds a plot and a table of 88 rows.
inline constexpr QSize kHelpOuterSize{Px(12000), Px(6000)};   // 800 x 400
inline constexpr QSize kCurveOuterSize{Px(14400), Px(9000)};  // 960 x 600
// The fonts, in pixels: MS Sans Serif 8.25 and 13.5 points at 96 dpi.
inline constexpr int kDefaultFontPx = 11;
inline constexpr int kDisplayFontPx = 18;

// Where Command1 ("Fermer") stands while help is shown, relative to the
// window's client area.
inline constexpr int kCloseHelpLeft = Px(10560);
inline constexpr int kCloseHelpTop = Px(120);

}  // namespace layout

// The controls that the window's handlers use, all owned by the form. Each
// is named for what it shows; its object name, which tests and screen
// readers see, is the control's own (in brackets).
struct Controls {
    std::array<FlatButton*, 12> clavier{};  // by key index 0 (Do) to 11 (Si)
    std::array<FlatButton*, 6> corde{};     // from the lowest string: indices 4 ... 28
    QScrollBar* octaveSelector = nullptr;   // (HScroll1) -1 to 8
    QLineEdit* octaveReadOut = nullptr;     // (Text1) the selector's value
    QLabel* measuredFrequency = nullptr;    // (Label1)
    QLabel* noteName = nullptr;             // (Label2)
    QLabel* octave = nullptr;               // (Label3) octave of the note
    QLabel* referenceFrequency = nullptr;   // (Label4)
    QPushButton* help = nullptr;            // (Command0) "Aide..."
    QPushButton* closeHelp = nullptr;       // (Command1) "Fermer"
    QPushButton* sample = nullptr;          // (Command2) "Échantillonner l'instrument"
    QTextBrowser* helpPane = nullptr;       // (RichTextBox1)
    // (TuningDisplay) the fine reading of the chosen note, live
    TuningDisplay* tuningDisplay = nullptr;
    QComboBox* curveStyle = nullptr;     // (CurveStyle) the styles, "Standard" first
    QPushButton* newPiano = nullptr;     // (NewPiano) "Nouveau piano"
    QPushButton* curveButton = nullptr;  // (CurveButton) "Courbe..."
    CurvePane* curvePane = nullptr;      // (CurvePane) over the window while open
};

// Creates every control of the table inside form, in its container and
// stacking order, with what screen readers call it, sets the form's font,
// fixed client size and Tab order, and returns the controls the handlers
// need. Help, Command1 and the curve's pane start hidden.
Controls BuildLayout(QWidget& form);

}  // namespace harmolune
