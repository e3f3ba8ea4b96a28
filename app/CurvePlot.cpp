#include "app/CurvePlot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "app/Texts.h"
#include "core/Pitch.h"
#include "tuning/Advice.h"

namespace harmolune {

namespace {

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr double kMostCents = 1200.0;
constexpr int kLowestDecade = -7;
constexpr int kHighestDecade = 0;
constexpr double kBRoom = 0.05;

// Where the two areas stand in the widget, in pixels.
constexpr double kLeft = 46.0;  // room for the cents' and B's labels
constexpr double kRight = 12.0;
constexpr double kTop = 40.0;  // the legend, then the cents' title
constexpr double kLegendBaseline = 14.0;
constexpr double kBetween = 24.0;  // B's title
constexpr double kBottom = 22.0;   // the keys' names
constexpr double kCentsShare = 0.64;

constexpr QRgb kTargetColour = qRgb(0, 90, 190);
constexpr int kBandAlpha = 60;
constexpr QRgb kToMeasureColour = qRgb(200, 95, 0);
constexpr int kPointRadius = 3;

// "⁻⁴" for -4: the power of ten as InharmonicityText writes it.
QString Superscript(int n) {
    static const QString digits = QStringLiteral("⁰¹²³⁴⁵⁶⁷⁸⁹");
    QString text = n < 0 ? QStringLiteral("⁻") : QString();
    for (const QChar c : QString::number(std::abs(n))) {
        text += digits[c.digitValue()];
    }
    return text;
}

// "+10", "0", "−10": the grid's steps are whole cents.
QString CentsLabel(double cents) {
    const long long whole = std::llround(cents);
    if (whole == 0) {
        return QStringLiteral("0");
    }
    return (whole < 0 ? QStringLiteral("−") : QStringLiteral("+")) +
           QString::number(std::llabs(whole));
}

QFont Sized(QFont font, int pixels) {
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

CentsAxis CentsAxisFor(double lowest, double highest) {
    const double lo = std::clamp(std::min(lowest, -10.0), -kMostCents, 0.0);
    const double hi = std::clamp(std::max(highest, 10.0), 0.0, kMostCents);
    CentsAxis axis;
    for (const double step : {5.0, 10.0, 25.0, 50.0, 100.0, 200.0}) {
        axis.step = step;
        if ((hi - lo) / step <= 10.0) {
            break;
        }
    }
    axis.low = std::floor(lo / axis.step) * axis.step;
    axis.high = std::ceil(hi / axis.step) * axis.step;
    return axis;
}

PlotData PlotDataOf(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings) {
    PlotData data;
    double lowest = 0.0;
    double highest = 0.0;
    double leastB = 0.0;
    double mostB = 0.0;
    const auto seeB = [&](double b) {
        if (b > 0.0) {
            leastB = leastB > 0.0 ? std::min(leastB, b) : b;
            mostB = std::max(mostB, b);
        }
    };
    for (std::size_t i = 0; i < curve.keys.size(); ++i) {
        const tuning::KeyTarget& key = curve.keys[i];
        data.targetCents[i] = key.targetCents;
        data.targetUncertainty[i] = key.uncertaintyCents;
        data.curveB[i] = key.inharmonicity;
        lowest = std::min(lowest, key.targetCents - key.uncertaintyCents);
        highest = std::max(highest, key.targetCents + key.uncertaintyCents);
        seeB(key.inharmonicity);
    }
    for (const tuning::MeasuredKey& key : readings) {
        if (key.midiNote < tuning::kLowestKey || key.midiNote > tuning::kHighestKey) {
            continue;
        }
        MeasuredPoint point;
        point.midiNote = key.midiNote;
        point.cents = CentsBetween(key.f1Hz, EqualTemperedHz(key.midiNote));
        point.errorCents = key.uncertaintyCents;
        point.inharmonicity = key.inharmonicity;
        data.measured.push_back(point);
        lowest = std::min(lowest, point.cents - point.errorCents);
        highest = std::max(highest, point.cents + point.errorCents);
        seeB(key.inharmonicity.value_or(0.0));
    }
    std::sort(
        data.measured.begin(), data.measured.end(),
        [](const MeasuredPoint& a, const MeasuredPoint& b) { return a.midiNote < b.midiNote; });
    data.toMeasure = curve.adviceKeys;
    const CentsAxis axis = CentsAxisFor(lowest, highest);
    data.centsLow = axis.low;
    data.centsHigh = axis.high;
    data.centsStep = axis.step;
    if (mostB > 0.0) {
        // A twentieth of a decade of room, so that no B lies on an edge.
        data.bLowDecade =
            std::max(kLowestDecade, static_cast<int>(std::floor(std::log10(leastB) - kBRoom)));
        data.bHighDecade =
            std::min(kHighestDecade, static_cast<int>(std::ceil(std::log10(mostB) + kBRoom)));
        // Two decades at least, so that a lone B is seen against its neighbours.
        if (data.bHighDecade - data.bLowDecade < 2) {
            data.bHighDecade = std::min(kHighestDecade, data.bLowDecade + 2);
            data.bLowDecade = data.bHighDecade - 2;
        }
    }
    return data;
}

double KeyX(int midiNote, const QRectF& area) {
    const int key = std::clamp(midiNote, tuning::kLowestKey, tuning::kHighestKey);
    return area.left() + (key - tuning::kLowestKey + 0.5) * area.width() / tuning::kKeyCount;
}

double CentsY(double cents, double low, double high, const QRectF& area) {
    const double c = std::clamp(cents, low, high);
    return area.bottom() - (c - low) / (high - low) * area.height();
}

double BY(double b, int lowDecade, int highDecade, const QRectF& area) {
    const double decade = b > 0.0 ? std::clamp(std::log10(b), static_cast<double>(lowDecade),
                                               static_cast<double>(highDecade))
                                  : lowDecade;
    return area.bottom() - (decade - lowDecade) / (highDecade - lowDecade) * area.height();
}

PlotShapes LayOutPlot(const PlotData& data, const QSize& size) {
    PlotShapes shapes;
    const double width = std::max(1.0, size.width() - kLeft - kRight);
    const double inside = std::max(2.0, size.height() - kTop - kBottom - kBetween);
    const double centsHeight = inside * kCentsShare;
    shapes.centsArea = QRectF(kLeft, kTop, width, centsHeight);
    shapes.bArea = QRectF(kLeft, kTop + centsHeight + kBetween, width, inside - centsHeight);
    const QRectF& c = shapes.centsArea;
    const QRectF& b = shapes.bArea;
    const auto y = [&](double cents) { return CentsY(cents, data.centsLow, data.centsHigh, c); };

    QPolygonF lower;
    for (int k = tuning::kLowestKey; k <= tuning::kHighestKey; ++k) {
        const std::size_t i = static_cast<std::size_t>(k - tuning::kLowestKey);
        const double x = KeyX(k, c);
        shapes.target << QPointF(x, y(data.targetCents[i]));
        shapes.band << QPointF(x, y(data.targetCents[i] + data.targetUncertainty[i]));
        lower.prepend(QPointF(x, y(data.targetCents[i] - data.targetUncertainty[i])));
        if (data.curveB[i] > 0.0) {
            shapes.bCurve << QPointF(KeyX(k, b),
                                     BY(data.curveB[i], data.bLowDecade, data.bHighDecade, b));
        }
    }
    shapes.band << lower;
    shapes.zeroY = y(0.0);
    for (const MeasuredPoint& point : data.measured) {
        const double x = KeyX(point.midiNote, c);
        shapes.measured.push_back({QPointF(x, y(point.cents)), y(point.cents + point.errorCents),
                                   y(point.cents - point.errorCents)});
        if (point.inharmonicity && *point.inharmonicity > 0.0) {
            shapes.bPoints.emplace_back(
                KeyX(point.midiNote, b),
                BY(*point.inharmonicity, data.bLowDecade, data.bHighDecade, b));
        }
    }
    for (const int k : data.toMeasure) {
        shapes.toMeasureX.push_back(KeyX(k, c));
    }
    const long long steps = std::llround((data.centsHigh - data.centsLow) / data.centsStep);
    for (long long i = 0; i <= steps; ++i) {
        const double v = data.centsLow + static_cast<double>(i) * data.centsStep;
        shapes.centsTicks.emplace_back(y(v), CentsLabel(v));
    }
    for (int d = data.bLowDecade; d <= data.bHighDecade; ++d) {
        shapes.bTicks.emplace_back(BY(std::pow(10.0, d), data.bLowDecade, data.bHighDecade, b),
                                   QStringLiteral("10") + Superscript(d));
    }
    // The A's, one an octave, as the window names them.
    for (int k = tuning::kLowestKey; k <= tuning::kHighestKey; k += 12) {
        shapes.keyTicks.emplace_back(KeyX(k, c), QString::fromStdString(tuning::KeyName(k)));
    }
    return shapes;
}

CurvePlot::CurvePlot(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    shapes_ = LayOutPlot(data_, size());
}

void CurvePlot::Show(const PlotData& data) {
    if (data == data_) {
        return;
    }
    data_ = data;
    shapes_ = LayOutPlot(data_, size());
    update();
}

QSize CurvePlot::sizeHint() const { return {560, 470}; }

void CurvePlot::resizeEvent(QResizeEvent*) { shapes_ = LayOutPlot(data_, size()); }

void CurvePlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PaintGrid(painter);
    PaintCurve(painter);
    PaintLegend(painter);
}

void CurvePlot::PaintGrid(QPainter& painter) const {
    const QColor ink = palette().color(QPalette::Text);
    QColor grid = palette().color(QPalette::Mid);
    grid.setAlpha(110);
    painter.setFont(Sized(font(), 11));
    const QFontMetricsF metrics(painter.font());
    const double labelRight = shapes_.centsArea.left() - 5;
    const auto leftLabel = [&](double y, const QString& text) {
        painter.drawText(
            QPointF(labelRight - metrics.horizontalAdvance(text), y + metrics.ascent() / 2 - 1),
            text);
    };
    for (const auto& [y, label] : shapes_.centsTicks) {
        painter.setPen(QPen(grid, 1));
        painter.drawLine(QPointF(shapes_.centsArea.left(), y),
                         QPointF(shapes_.centsArea.right(), y));
        painter.setPen(ink);
        leftLabel(y, label);
    }
    for (const auto& [y, label] : shapes_.bTicks) {
        painter.setPen(QPen(grid, 1));
        painter.drawLine(QPointF(shapes_.bArea.left(), y), QPointF(shapes_.bArea.right(), y));
        painter.setPen(ink);
        leftLabel(y, label);
    }
    for (const auto& [x, label] : shapes_.keyTicks) {
        painter.setPen(QPen(grid, 1));
        painter.drawLine(QPointF(x, shapes_.centsArea.top()),
                         QPointF(x, shapes_.centsArea.bottom()));
        painter.drawLine(QPointF(x, shapes_.bArea.top()), QPointF(x, shapes_.bArea.bottom()));
        painter.setPen(ink);
        painter.drawText(QPointF(x - metrics.horizontalAdvance(label) / 2,
                                 shapes_.bArea.bottom() + 4 + metrics.ascent()),
                         label);
    }
    // Equal temperament, which every target is counted from.
    painter.setPen(QPen(ink, 1));
    painter.drawLine(QPointF(shapes_.centsArea.left(), shapes_.zeroY),
                     QPointF(shapes_.centsArea.right(), shapes_.zeroY));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawRect(shapes_.centsArea);
    painter.drawRect(shapes_.bArea);
    painter.setPen(ink);
    painter.drawText(QPointF(shapes_.centsArea.left(), shapes_.centsArea.top() - 6),
                     Q(texts::kCentsAxis));
    painter.drawText(QPointF(shapes_.bArea.left(), shapes_.bArea.top() - 6), Q(texts::kBAxis));
}

void CurvePlot::PaintCurve(QPainter& painter) const {
    const QColor ink = palette().color(QPalette::Text);
    QColor band(kTargetColour);
    band.setAlpha(kBandAlpha);
    painter.setPen(Qt::NoPen);
    painter.setBrush(band);
    painter.drawPolygon(shapes_.band);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(kTargetColour), 2));
    painter.drawPolyline(shapes_.target);
    painter.drawPolyline(shapes_.bCurve);

    const QColor toMeasure(kToMeasureColour);
    for (const double x : shapes_.toMeasureX) {
        painter.setPen(QPen(toMeasure, 1, Qt::DashLine));
        painter.drawLine(QPointF(x, shapes_.centsArea.top()),
                         QPointF(x, shapes_.centsArea.bottom()));
        const double base = shapes_.centsArea.bottom();
        painter.setPen(Qt::NoPen);
        painter.setBrush(toMeasure);
        painter.drawPolygon(
            QPolygonF{{QPointF(x - 5, base), QPointF(x + 5, base), QPointF(x, base - 9)}});
        painter.setBrush(Qt::NoBrush);
    }

    for (const PlotShapes::Bar& bar : shapes_.measured) {
        painter.setPen(QPen(ink, 1));
        const double x = bar.point.x();
        painter.drawLine(QPointF(x, bar.top), QPointF(x, bar.bottom));
        painter.drawLine(QPointF(x - 3, bar.top), QPointF(x + 3, bar.top));
        painter.drawLine(QPointF(x - 3, bar.bottom), QPointF(x + 3, bar.bottom));
        painter.setBrush(ink);
        painter.drawEllipse(bar.point, kPointRadius, kPointRadius);
        painter.setBrush(Qt::NoBrush);
    }
    painter.setBrush(ink);
    for (const QPointF& point : shapes_.bPoints) {
        painter.drawEllipse(point, kPointRadius, kPointRadius);
    }
    painter.setBrush(Qt::NoBrush);
}

void CurvePlot::PaintLegend(QPainter& painter) const {
    const QColor ink = palette().color(QPalette::Text);
    painter.setFont(Sized(font(), 11));
    const QFontMetricsF metrics(painter.font());
    const double baseline = kLegendBaseline;
    const double middle = baseline - metrics.ascent() / 2 + 1;
    // Right to left from the plot's right edge: the last item first.
    double x = shapes_.centsArea.right();
    const auto item = [&](std::string_view words) {
        const QString text = Q(words);
        x -= metrics.horizontalAdvance(text);
        painter.setPen(ink);
        painter.drawText(QPointF(x, baseline), text);
        x -= 22;
        return x + 10;  // the middle of the symbol's room
    };
    double at = item(texts::kLegendToMeasure);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kToMeasureColour));
    painter.drawPolygon(QPolygonF{
        {QPointF(at - 5, middle + 4), QPointF(at + 5, middle + 4), QPointF(at, middle - 5)}});
    x -= 12;
    at = item(texts::kLegendMeasured);
    painter.setBrush(ink);
    painter.drawEllipse(QPointF(at, middle), kPointRadius, kPointRadius);
    x -= 12;
    at = item(texts::kLegendTarget);
    QColor band(kTargetColour);
    band.setAlpha(kBandAlpha);
    painter.setBrush(band);
    painter.drawRect(QRectF(at - 8, middle - 4, 16, 8));
    painter.setPen(QPen(QColor(kTargetColour), 2));
    painter.drawLine(QPointF(at - 8, middle), QPointF(at + 8, middle));
    painter.setBrush(Qt::NoBrush);
}

}  // namespace harmolune
