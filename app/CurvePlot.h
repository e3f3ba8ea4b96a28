#pragma once
// The piano's tuning curve as a picture, in the curve's pane: over the 88
// keys, each target in cents from equal temperament with its ± as a band,
// the keys measured as points with their error bars, and the keys still to
// measure marked; below it, B on a log scale, the curve's line and each
// key's own. A tuner sees at a glance how the stretch runs and where it is
// unsure.
//
// The widget holds only what it shows (PlotData, set through Show) and the
// shapes laid out from it for its size, made again when either changes;
// painting draws those shapes and computes nothing. The mapping from keys,
// cents and B to pixels is a set of pure functions. UI thread only.

#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "tuning/Curve.h"

namespace harmolune {

struct MeasuredPoint {
    int midiNote = 0;
    double cents = 0.0;       // f1 from the key's equal-tempered frequency
    double errorCents = 0.0;  // its uncertainty, each side
    std::optional<double> inharmonicity;

    bool operator==(const MeasuredPoint&) const = default;
};

struct PlotData {
    // A0 first. curveB is 0 where the curve knows no B.
    std::array<double, tuning::kKeyCount> targetCents{};
    std::array<double, tuning::kKeyCount> targetUncertainty{};
    std::array<double, tuning::kKeyCount> curveB{};
    std::vector<MeasuredPoint> measured;  // lowest key first
    std::vector<int> toMeasure;           // the advice's keys
    // The cents axis: its ends and the step of its grid.
    double centsLow = -10.0;
    double centsHigh = 10.0;
    double centsStep = 5.0;
    // The B axis' ends, as powers of ten.
    int bLowDecade = -5;
    int bHighDecade = -1;

    bool operator==(const PlotData&) const = default;
};

// The cents axis for values from lowest to highest: whole steps of 5, 10,
// 25, 50 or 100 cents, the fewest that keep about four to ten of them, and
// never less than -10 to +10. Values beyond ±1200 cents are held there.
struct CentsAxis {
    double low = -10.0;
    double high = 10.0;
    double step = 5.0;
};
CentsAxis CentsAxisFor(double lowest, double highest);

// What the plot shows of a curve and the readings it came from.
PlotData PlotDataOf(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings);

// Pixels: the middle of the key's column in area, the 88 columns side by
// side from A0 at the left; where cents lies on an axis from low (the
// area's bottom) to high (its top); where B lies on a log axis from
// 10^lowDecade to 10^highDecade. Values off an axis stay at its end.
double KeyX(int midiNote, const QRectF& area);
double CentsY(double cents, double low, double high, const QRectF& area);
double BY(double b, int lowDecade, int highDecade, const QRectF& area);

// What painting draws, in pixels, for one size.
struct PlotShapes {
    QRectF centsArea;
    QRectF bArea;
    QPolygonF band;    // the targets' ± band, the upper edge then the lower
    QPolygonF target;  // the targets
    double zeroY = 0.0;
    struct Bar {
        QPointF point;
        double top = 0.0;
        double bottom = 0.0;
    };
    std::vector<Bar> measured;
    std::vector<double> toMeasureX;
    QPolygonF bCurve;
    std::vector<QPointF> bPoints;
    std::vector<std::pair<double, QString>> centsTicks;  // y, label
    std::vector<std::pair<double, QString>> bTicks;      // y, label
    std::vector<std::pair<double, QString>> keyTicks;    // x, label
};
PlotShapes LayOutPlot(const PlotData& data, const QSize& size);

class CurvePlot : public QWidget {
    Q_OBJECT
  public:
    explicit CurvePlot(QWidget* parent = nullptr);

    // Repaints only when what is shown changes.
    void Show(const PlotData& data);

    const PlotData& Data() const { return data_; }
    const PlotShapes& Shapes() const { return shapes_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PaintGrid(QPainter& painter) const;
    void PaintCurve(QPainter& painter) const;
    void PaintLegend(QPainter& painter) const;

    PlotData data_;
    PlotShapes shapes_;
};

}  // namespace harmolune
