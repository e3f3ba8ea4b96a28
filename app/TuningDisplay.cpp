#include "app/TuningDisplay.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>

#include "app/Accessibility.h"
#include "app/Texts.h"
#include "core/Numbers.h"

namespace harmolune {

namespace {

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Q(const std::string& s) { return Q(std::string_view(s)); }

std::string_view StateWord(LiveState state) {
    switch (state) {
        case LiveState::Refining:
            return texts::kReadingRefining;
        case LiveState::Stable:
            return texts::kReadingStable;
        case LiveState::Final:
            return texts::kReadingFinal;
    }
    return {};
}

// The laid-out size: the width of the button bar, room for five rows.
constexpr QSize kSize{285, 123};

// Where things stand, in pixels inside the frame.
constexpr int kSide = 6;        // left and right of the texts
constexpr int kScaleSide = 16;  // from the frame's inside to an end of the scale
constexpr int kNumberBaseline = 31;
constexpr int kScaleBaseline = 58;  // the scale's line; ticks and needle stand on it
constexpr int kDetailsBaseline = 84;
constexpr int kPartialsBaseline = 99;
constexpr int kTargetBaseline = 114;

constexpr int kNumberPx = 30;
constexpr int kVerdictPx = 18;
constexpr int kSpreadPx = 15;
constexpr int kSmallPx = 12;
constexpr int kTickLabelPx = 10;

QFont Sized(QFont font, int pixels) {
    font.setPixelSize(pixels);
    return font;
}

// "cible de La 4 : +23,4 cents ± 0,6", as said; French counts below 2 in the
// singular, as the fine reading's words do.
QString TargetSaid(const QString& noteName, const CurveTarget& target,
                   const std::string& separator) {
    const std::string cents = SignedTenths(target.cents, separator, "-");
    const bool singular = ReadLeadingNumber(cents.substr(1), separator) < 2.0;
    return Q(texts::kTargetWord) + QStringLiteral(" de ") + noteName + QStringLiteral(" : ") +
           Q(cents) + (singular ? QStringLiteral(" cent ± ") : QStringLiteral(" cents ± ")) +
           Q(FormatFixed(target.uncertaintyCents, 1, separator));
}

}  // namespace

std::string SignedTenths(double cents, const std::string& separator, std::string_view minus) {
    const std::string magnitude = FormatFixed(std::abs(cents), 1, separator);
    const bool below = cents < 0.0 && ReadLeadingNumber(magnitude, separator) > 0.0;
    return std::string(below ? minus : "+") + magnitude;
}

double ScaleOffset(double cents, double halfWidthPx) {
    constexpr double kEnd = 50.0;
    const double c = std::clamp(cents, -kEnd, kEnd);
    return halfWidthPx * std::asinh(c) / std::asinh(kEnd);
}

TuningView ViewOfReading(const std::optional<LiveReading>& reading, const QString& noteName,
                         const QString& decimalSeparator,
                         const std::optional<CurveTarget>& target) {
    TuningView view;
    const std::string separator = decimalSeparator.toStdString();
    // A guitar string is tuned to equal temperament, whatever the piano's curve.
    const bool againstCurve = target && (!reading || reading->pianoKey);
    QString targetSaid;
    if (againstCurve) {
        view.target = Q(texts::kTargetWord) + ' ' + Q(SignedTenths(target->cents, separator, "−")) +
                      QStringLiteral(" c ± ") +
                      Q(FormatFixed(target->uncertaintyCents, 1, separator));
        view.against = Q(texts::kAgainstCurveShown);
        targetSaid = QStringLiteral(", ") + TargetSaid(noteName, *target, separator);
    }
    if (!reading) {
        view.spokenName = accessibility::SpokenText(Q(texts::kNoReadingName) + targetSaid);
        return view;
    }
    // Everything below counts from the target: the number, the needle, the
    // colour and the words.
    FineReading fine = reading->fine;
    if (againstCurve) {
        fine.cents -= target->cents;
    }
    // One decimal, as a tuner reads cents, or two when the uncertainty shows
    // below a tenth: the tooltip's rule.
    const int decimals = fine.uncertaintyCents < 0.095 ? 2 : 1;
    const std::string magnitude = FormatFixed(std::abs(fine.cents), decimals, separator);
    const std::string spread = FormatFixed(fine.uncertaintyCents, decimals, separator);
    // The colour and the words follow the numbers as shown, so that they never
    // disagree with them: "+1,0 c" is in tune, "+1,1 c ± 1,1" too.
    const double shownCents = ReadLeadingNumber(magnitude, separator);
    const double shownSpread = ReadLeadingNumber(spread, separator);
    const bool below = fine.cents < 0.0 && shownCents > 0.0;  // never "−0,0"

    view.empty = false;
    view.deviation =
        (below ? QStringLiteral("−") : QStringLiteral("+")) + Q(magnitude) + QStringLiteral(" c");
    view.uncertainty = QStringLiteral("± ") + Q(spread);
    view.frequency = Q(FormatFixed(fine.frequencyHz, 3, separator)) + QStringLiteral(" Hz");
    view.state = Q(StateWord(reading->state));
    if (fine.fromPartials) {
        view.fromPartials = Q(texts::kReadingFromPartials);
    }
    if (reading->pianoKey && fine.inharmonicity && *fine.inharmonicity > 0.0) {
        view.inharmonicity = Q(texts::kInharmonicityWord) + ' ' +
                             Q(InharmonicityText(*fine.inharmonicity, separator));
    }
    view.inTune = shownCents <= 1.0 || shownCents <= shownSpread;
    view.verdict = Q(view.inTune ? texts::kInTune : below ? texts::kFlat : texts::kSharp);
    view.cents = fine.cents;
    view.uncertaintyCents = fine.uncertaintyCents;
    const std::string against =
        againstCurve ? std::string(texts::kCurveSaid) : noteName.toStdString();
    view.spokenName = accessibility::SpokenText(Q(FineReadingText(fine, against, separator)) +
                                                targetSaid + QStringLiteral(", ") + view.state +
                                                QStringLiteral(", ") + view.verdict);
    return view;
}

TuningDisplay::TuningDisplay(QWidget* parent)
    : QFrame(parent),
      decimalSeparator_(QLocale::system().decimalPoint()),
      view_(ViewOfReading(std::nullopt, {}, decimalSeparator_)) {
    accessibility::MarkReading(*this);
    accessibility::SetReadingName(*this, view_.spokenName);
    // Reached with Tab, after "Aide...": a click on it takes nothing.
    setFocusPolicy(Qt::TabFocus);
}

void TuningDisplay::Show(const std::optional<LiveReading>& reading, const QString& noteName,
                         const std::optional<CurveTarget>& target) {
    TuningView view = ViewOfReading(reading, noteName, decimalSeparator_, target);
    if (view == view_) {
        return;
    }
    if (view.spokenName != view_.spokenName) {
        accessibility::SetReadingName(*this, view.spokenName);
    }
    view_ = std::move(view);
    update();
}

QSize TuningDisplay::sizeHint() const { return kSize; }

void TuningDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PaintScale(painter);
    PaintTexts(painter);
    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(contentsRect().adjusted(1, 1, -2, -2));
    }
}

void TuningDisplay::PaintScale(QPainter& painter) const {
    const QRect inside = contentsRect();
    const QColor ink = palette().color(QPalette::WindowText);
    const double centre = inside.left() + inside.width() / 2.0;
    const double half = inside.width() / 2.0 - kScaleSide;
    const double line = inside.top() + kScaleBaseline + 0.5;

    painter.setPen(QPen(ink, 1));
    painter.drawLine(QPointF(centre - half, line), QPointF(centre + half, line));
    // Tick heights: the centre and the ends, the labelled cents, the others.
    struct Tick {
        double cents;
        int height;
        const char* label;
    };
    static constexpr std::array<Tick, 8> kTicks{{{0, 11, "0"},
                                                 {0.5, 3, nullptr},
                                                 {1, 7, "1"},
                                                 {2, 4, nullptr},
                                                 {5, 7, "5"},
                                                 {10, 7, "10"},
                                                 {20, 4, nullptr},
                                                 {50, 11, "50"}}};
    painter.setFont(Sized(font(), kTickLabelPx));
    const QFontMetrics labels(painter.font());
    for (const Tick& tick : kTicks) {
        for (const double sign : {-1.0, 1.0}) {
            if (tick.cents == 0 && sign < 0) {
                continue;
            }
            const double x = centre + ScaleOffset(sign * tick.cents, half);
            painter.drawLine(QPointF(x, line), QPointF(x, line - tick.height));
            if (tick.label != nullptr) {
                const QString text = QString::fromLatin1(tick.label);
                painter.drawText(
                    QPointF(x - labels.horizontalAdvance(text) / 2.0, line + 2 + labels.ascent()),
                    text);
            }
        }
    }
    // Flat to the left, sharp to the right, beyond the ends.
    painter.setFont(Sized(font(), kVerdictPx));
    const QFontMetrics signs(painter.font());
    const QString flat = QStringLiteral("♭");
    painter.drawText(QPointF(centre - half - 3 - signs.horizontalAdvance(flat), line), flat);
    painter.drawText(QPointF(centre + half + 3, line), QStringLiteral("♯"));

    if (view_.empty) {
        return;
    }
    const QColor colour(view_.inTune ? kInTuneColour : kOutOfTuneColour);
    const double low = centre + ScaleOffset(view_.cents - view_.uncertaintyCents, half);
    const double high = centre + ScaleOffset(view_.cents + view_.uncertaintyCents, half);
    QColor band = colour;
    band.setAlpha(90);
    painter.setPen(Qt::NoPen);
    painter.setBrush(band);
    painter.drawRect(QRectF(low, line - 17, std::max(high - low, 1.0), 16));
    const double needle = centre + ScaleOffset(view_.cents, half);
    painter.setPen(QPen(colour, 3, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(needle, line - 21), QPointF(needle, line + 1));
}

void TuningDisplay::PaintTexts(QPainter& painter) const {
    const QRect inside = contentsRect();
    const int left = inside.left() + kSide;
    const int right = inside.right() - kSide;
    const int top = inside.top();
    const QColor ink = palette().color(QPalette::WindowText);
    const auto drawRight = [&painter](int x, int baseline, const QString& text) {
        const QFontMetrics metrics(painter.font());
        painter.drawText(QPoint(x - metrics.horizontalAdvance(text), baseline), text);
    };

    painter.setPen(ink);
    painter.setFont(Sized(font(), kSmallPx));
    painter.drawText(QPoint(left, top + kTargetBaseline), view_.target);
    drawRight(right, top + kTargetBaseline, view_.against);

    painter.setFont(Sized(font(), kNumberPx));
    if (view_.empty) {
        painter.setPen(ink);
        painter.drawText(QPoint(left, top + kNumberBaseline), Q(texts::kNoReadingShown));
        return;
    }
    const QColor colour(view_.inTune ? kInTuneColour : kOutOfTuneColour);
    painter.setPen(colour);
    painter.drawText(QPoint(left, top + kNumberBaseline), view_.deviation);
    const int afterNumber = left + QFontMetrics(painter.font()).horizontalAdvance(view_.deviation);
    painter.setFont(Sized(font(), kSpreadPx));
    painter.drawText(QPoint(afterNumber + 6, top + kNumberBaseline), view_.uncertainty);
    painter.setFont(Sized(font(), kVerdictPx));
    drawRight(right, top + kNumberBaseline, view_.verdict);

    painter.setPen(ink);
    painter.setFont(Sized(font(), kSmallPx));
    painter.drawText(QPoint(left, top + kDetailsBaseline), view_.frequency);
    drawRight(right, top + kDetailsBaseline, view_.state);
    painter.drawText(QPoint(left, top + kPartialsBaseline), view_.fromPartials);
    drawRight(right, top + kPartialsBaseline, view_.inharmonicity);
}

}  // namespace harmolune
