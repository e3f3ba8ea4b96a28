#pragma once
// The pane that "Courbe..." opens over the window, as "Aide..." opens the
// help: the piano's curve in a line of words (style, keys measured), the
// advice on which keys to measure next, the curve drawn (CurvePlot), the
// table of the 88 targets that a screen reader reads row by row, and
// "Fermer". It shows what Show gives it and computes nothing but its texts.
// UI thread only.

#include <QFrame>
#include <QString>
#include <array>
#include <vector>

#include "tuning/Curve.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace harmolune {

class CurvePlot;

// The columns of the table: touche, cible Hz, cible cents, ±, B, mesurée,
// écart.
inline constexpr int kCurveColumns = 7;
using CurveRow = std::array<QString, kCurveColumns>;

// One key's row, numbers written with decimalSeparator: the key's name, its
// target in hertz (3 decimals) and in cents (1 decimal, signed), the ±, B
// ("3,0 × 10⁻⁴", "" when none), then for a measured key its f1 and its
// deviation from the target, for a key still to measure "à mesurer".
CurveRow RowOf(const tuning::KeyTarget& key, bool toMeasure, const QString& decimalSeparator);

// What a screen reader says of that row, at its first cell: "La 4 : cible
// 440,000 Hz, +0,0 cent ± 0,0, mesurée 440,120 Hz, écart +0,5 cent".
QString SpokenRow(const tuning::KeyTarget& key, bool toMeasure, const QString& decimalSeparator);

// "Courbe du piano, style « Standard » : 9 touches mesurées, de La 0 à La 7";
// or what the targets are while there is no curve yet.
QString CurveSummary(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings);

class CurvePane : public QFrame {
    Q_OBJECT
  public:
    explicit CurvePane(QWidget* parent = nullptr);

    void Show(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings);
    // The table's current row: the key's (21 to 108), scrolled into view;
    // another number leaves it where it is.
    void GoToKey(int midiNote);

    QTableWidget* Table() const { return table_; }
    QPushButton* CloseButton() const { return close_; }
    CurvePlot* Plot() const { return plot_; }
    QLabel* Summary() const { return summary_; }
    QLabel* Advice() const { return advice_; }

  private:
    const QString decimalSeparator_;
    QLabel* summary_ = nullptr;
    QLabel* advice_ = nullptr;
    QPushButton* close_ = nullptr;
    CurvePlot* plot_ = nullptr;
    QTableWidget* table_ = nullptr;
};

}  // namespace harmolune
