#pragma once
// The tuning display, in the strip below the button bar: the fine reading of
// the chosen note as a tuner reads it while turning the pin. The deviation in
// cents, large, with its uncertainty; a needle on a scale from -50 to +50
// cents, stretched near zero, with the uncertainty as a band around it; the
// frequency; how far the reading has come, in words; a piano key's
// inharmonicity. For a piano key on a piano with a tuning curve, all of it is
// counted from the key's target on the curve, which a row shows. In tune, the needle and the number
// are green; beyond, amber; and a word says which, for whoever cannot tell the colours apart.
//
// It holds only what it shows, set through Show; painting draws that and
// computes nothing. UI thread only.

#include <QFrame>
#include <QRgb>
#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "measure/LiveReading.h"

class QPainter;

namespace harmolune {

// Pixels from the scale's centre to where `cents` lies on it, for a scale
// whose ends, -50 and +50 cents, lie halfWidthPx away: halfWidthPx ·
// asinh(cents / 1 c) / asinh(50). The first cents get the room: on a scale
// 280 pixels wide, a tenth of a cent lies 3 pixels from the centre, 1 c 27
// pixels, 10 c 91. Beyond its ends, a reading stands at the end.
double ScaleOffset(double cents, double halfWidthPx);

// Cents to one decimal with a sign always, "+23,4", "−0,6", "+0,0": never a
// minus zero. minus is the sign as written: "−" shown, "-" in words said.
std::string SignedTenths(double cents, const std::string& separator, std::string_view minus);

// The needle's and the number's colours, in tune and not: a bluish green and
// an amber, which stay apart under protanopia and deuteranopia, where the
// displays' plain green and an amber look alike.
inline constexpr QRgb kInTuneColour = qRgb(0, 192, 96);
inline constexpr QRgb kOutOfTuneColour = qRgb(255, 176, 0);

// A key's target on the piano's curve, in cents from its equal-tempered
// frequency, and its uncertainty, one standard deviation.
struct CurveTarget {
    double cents = 0.0;
    double uncertaintyCents = 0.0;
};

// What the display shows of a reading, in its words, and what a screen reader
// calls it. Empty texts show nothing.
struct TuningView {
    bool empty = true;      // no reading yet: the scale alone, and a dash
    QString deviation;      // "+3,4 c", "−12,6 c", "+0,12 c"
    QString uncertainty;    // "± 0,4"
    QString frequency;      // "440,866 Hz"
    QString state;          // "en cours", "stable", "finale"
    QString fromPartials;   // "d'après les partiels"
    QString inharmonicity;  // "inharmonicité 3,0 × 10⁻⁴", piano keys only
    QString verdict;        // "juste", "trop haut", "trop bas"
    // Against a curve: "cible +23,4 c ± 0,6" and "par rapport à la courbe";
    // both empty against equal temperament.
    QString target;
    QString against;
    // Within 1 c of the note, or within its uncertainty of it, both as shown.
    bool inTune = false;
    double cents = 0.0;             // where the needle stands: the deviation shown
    double uncertaintyCents = 0.0;  // the band reaches this far each side
    QString spokenName;             // the tooltip's words, the state and the verdict

    bool operator==(const TuningView&) const = default;
};

// The view of a reading (nullopt: none yet) of the note called noteName as the
// window shows it ("La 4"), its numbers written with decimalSeparator. With a
// target, a piano key's reading is counted from it, and the target is shown
// with or without a reading; a guitar string's never is.
TuningView ViewOfReading(const std::optional<LiveReading>& reading, const QString& noteName,
                         const QString& decimalSeparator,
                         const std::optional<CurveTarget>& target = std::nullopt);

class TuningDisplay : public QFrame {
    Q_OBJECT
  public:
    explicit TuningDisplay(QWidget* parent = nullptr);

    // The reading to show, nullopt before the first one, and the note's
    // target on the piano's curve, if it has one. Repaints only when what is
    // shown changes.
    void Show(const std::optional<LiveReading>& reading, const QString& noteName,
              const std::optional<CurveTarget>& target = std::nullopt);

    const TuningView& View() const { return view_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void PaintScale(QPainter& painter) const;
    void PaintTexts(QPainter& painter) const;

    const QString decimalSeparator_;  // the user's, as the window writes numbers
    TuningView view_;
};

}  // namespace harmolune
