#include "app/CurvePane.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <algorithm>
#include <string>
#include <string_view>

#include "app/Accessibility.h"
#include "app/CurvePlot.h"
#include "app/Texts.h"
#include "app/TuningDisplay.h"
#include "core/Numbers.h"
#include "measure/FineEstimator.h"
#include "tuning/Advice.h"

namespace harmolune {

namespace {

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Q(const std::string& s) { return Q(std::string_view(s)); }

QString KeyNameOf(int midiNote) { return Q(tuning::KeyName(midiNote)); }

// "cent" below 2, as the fine reading's words count.
QString CentsWord(const std::string& signedTenths, const std::string& separator) {
    return ReadLeadingNumber(signedTenths.substr(1), separator) < 2.0 ? QStringLiteral(" cent")
                                                                      : QStringLiteral(" cents");
}

}  // namespace

CurveRow RowOf(const tuning::KeyTarget& key, bool toMeasure, const QString& decimalSeparator) {
    const std::string separator = decimalSeparator.toStdString();
    CurveRow row;
    row[0] = KeyNameOf(key.midiNote);
    row[1] = Q(FormatFixed(key.targetHz, 3, separator));
    row[2] = Q(SignedTenths(key.targetCents, separator, "−"));
    row[3] = Q(FormatFixed(key.uncertaintyCents, 1, separator));
    if (key.inharmonicity > 0.0) {
        row[4] = Q(InharmonicityText(key.inharmonicity, separator));
    }
    if (key.measuredHz) {
        row[5] = Q(FormatFixed(*key.measuredHz, 3, separator));
        row[6] = Q(SignedTenths(tuning::DeviationCents(key, *key.measuredHz), separator, "−"));
    } else if (toMeasure) {
        row[5] = Q(texts::kToMeasure);
    }
    return row;
}

QString SpokenRow(const tuning::KeyTarget& key, bool toMeasure, const QString& decimalSeparator) {
    const std::string separator = decimalSeparator.toStdString();
    const std::string target = SignedTenths(key.targetCents, separator, "-");
    QString text = KeyNameOf(key.midiNote) + QStringLiteral(" : ") + Q(texts::kTargetWord) + ' ' +
                   Q(FormatFixed(key.targetHz, 3, separator)) + QStringLiteral(" Hz, ") +
                   Q(target) + CentsWord(target, separator) + QStringLiteral(" ± ") +
                   Q(FormatFixed(key.uncertaintyCents, 1, separator));
    if (key.inharmonicity > 0.0) {
        text += QStringLiteral(", B ") + Q(InharmonicityText(key.inharmonicity, separator));
    }
    if (key.measuredHz) {
        const std::string deviation =
            SignedTenths(tuning::DeviationCents(key, *key.measuredHz), separator, "-");
        text += QStringLiteral(", mesurée ") + Q(FormatFixed(*key.measuredHz, 3, separator)) +
                QStringLiteral(" Hz, écart ") + Q(deviation) + CentsWord(deviation, separator);
    } else if (toMeasure) {
        text += QStringLiteral(", ") + Q(texts::kToMeasure);
    }
    return accessibility::SpokenText(text);
}

QString CurveSummary(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings) {
    QString text = Q(texts::kCurvePaneName) + QStringLiteral(", style « ") + Q(curve.style) +
                   QStringLiteral(" » : ");
    std::vector<int> keys;
    for (const tuning::MeasuredKey& key : readings) {
        if (key.midiNote >= tuning::kLowestKey && key.midiNote <= tuning::kHighestKey) {
            keys.push_back(key.midiNote);
        }
    }
    if (keys.empty()) {
        return text + Q(texts::kNoKeyMeasured);
    }
    const auto [lowest, highest] = std::minmax_element(keys.begin(), keys.end());
    if (keys.size() == 1) {
        text += QStringLiteral("1 touche mesurée, ") + KeyNameOf(*lowest);
    } else {
        text += QString::number(keys.size()) + QStringLiteral(" touches mesurées, de ") +
                KeyNameOf(*lowest) + QStringLiteral(" à ") + KeyNameOf(*highest);
    }
    if (!curve.fit.valid) {
        text += QStringLiteral(", ") + Q(texts::kNoBYet);
    } else if (!curve.fitted) {
        text += QStringLiteral(" ; ") + Q(texts::kNotFittedYet);
    }
    return text;
}

CurvePane::CurvePane(QWidget* parent)
    : QFrame(parent), decimalSeparator_(QLocale::system().decimalPoint()) {
    accessibility::MarkGroup(*this);
    setAccessibleName(Q(texts::kCurvePaneName));
    setAutoFillBackground(true);

    summary_ = new QLabel(this);
    summary_->setObjectName("CurveSummary");
    QFont bold = summary_->font();
    bold.setBold(true);
    summary_->setFont(bold);
    summary_->setWordWrap(true);
    advice_ = new QLabel(this);
    advice_->setObjectName("CurveAdvice");
    advice_->setWordWrap(true);
    close_ = new QPushButton(Q(texts::kCloseCurveCaption), this);
    close_->setObjectName("CloseCurve");
    close_->setToolTip(Q(texts::kCloseCurveTooltip));
    close_->setAccessibleDescription(Q(texts::kCloseCurveTooltip));
    close_->setAutoDefault(true);

    plot_ = new CurvePlot(this);
    plot_->setObjectName("CurvePlot");
    accessibility::MarkChart(*plot_);

    table_ = new QTableWidget(tuning::kKeyCount, kCurveColumns, this);
    table_->setObjectName("CurveTable");
    table_->setAccessibleName(Q(texts::kCurveTableName));
    QStringList headers;
    for (const std::string_view header : texts::kCurveColumns) {
        headers << Q(header);
    }
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the table for "Fermer"; the arrows move within it.
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    for (int r = 0; r < tuning::kKeyCount; ++r) {
        for (int c = 0; c < kCurveColumns; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, item);
        }
    }
    table_->setCurrentCell(0, 0);

    auto* top = new QHBoxLayout;
    top->addWidget(summary_, 1);
    top->addWidget(close_, 0, Qt::AlignTop);
    auto* body = new QHBoxLayout;
    body->addWidget(plot_, 1);
    body->addWidget(table_, 0);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(8, 8, 8, 8);
    all->addLayout(top);
    all->addWidget(advice_);
    all->addLayout(body, 1);
    setTabOrder(table_, close_);
    hide();
}

void CurvePane::GoToKey(int midiNote) {
    if (midiNote < tuning::kLowestKey || midiNote > tuning::kHighestKey) {
        return;
    }
    table_->setCurrentCell(midiNote - tuning::kLowestKey, 0);
    table_->scrollToItem(table_->currentItem(), QAbstractItemView::PositionAtCenter);
}

void CurvePane::Show(const tuning::Curve& curve, const std::vector<tuning::MeasuredKey>& readings) {
    const QString summary = CurveSummary(curve, readings);
    summary_->setText(summary);
    advice_->setText(curve.advice.empty() ? Q(texts::kNothingToAdd) : Q(curve.advice));
    plot_->Show(PlotDataOf(curve, readings));
    plot_->setAccessibleName(accessibility::SpokenText(summary));
    plot_->setAccessibleDescription(accessibility::SpokenText(advice_->text()));
    for (int r = 0; r < tuning::kKeyCount; ++r) {
        const tuning::KeyTarget& key = curve.keys[static_cast<std::size_t>(r)];
        const bool toMeasure = std::find(curve.adviceKeys.begin(), curve.adviceKeys.end(),
                                         key.midiNote) != curve.adviceKeys.end();
        const CurveRow row = RowOf(key, toMeasure, decimalSeparator_);
        for (int c = 0; c < kCurveColumns; ++c) {
            table_->item(r, c)->setText(row[static_cast<std::size_t>(c)]);
        }
        table_->item(r, 0)->setData(Qt::AccessibleTextRole,
                                    SpokenRow(key, toMeasure, decimalSeparator_));
    }
    table_->resizeColumnsToContents();
    table_->setFixedWidth(table_->horizontalHeader()->length() +
                          table_->verticalScrollBar()->sizeHint().width() +
                          2 * table_->frameWidth());
}

}  // namespace harmolune
