// Loss against a reference, statistics and limits: the window's side. The
// figures come from the analysis library; this file wires them to the panel,
// the statistics box, the table's colours and the user's configuration.
#include "widget.h"

#include "datamodel.h"
#include "dlglimits.h"
#include "dmmchart.h"
#include "itemfigures.h"
#include "judge.h"
#include "prompt.h"
#include "readingstore.h"
#include "widgetform.h"

#include <QBrush>
#include <QSettings>
#include <QTimer>

#include <cmath>
#include <unordered_map>

struct Widget::Analysis
{
    explicit Analysis(analysis::Judge &judge) : judge(judge) {}
    // The recording's references and limits.
    analysis::Judge &judge;
    // Figures kept beside each item's readings, made when first asked for.
    std::unordered_map<const ItemData *, std::unique_ptr<analysis::ItemFigures>> figures;
    // Context of the connections to the items, so that they end with this.
    QObject items;
    QTimer *statisticsTimer = nullptr;
    // The newest live reading the panel shows.
    bool hasPanelReading = false;
    analysis::Sample panelReading;
};

void Widget::AnalysisDeleter::operator()(Analysis *analysis) const
{
    delete analysis;
}

namespace {
// References and limits live in the user's configuration (kv930.conf, with
// the journal's settings), beside (not in) options.xml, whose layout stays as
// it is.
std::unique_ptr<QSettings> analysisSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("kv930"), QStringLiteral("kv930"));
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}
} // namespace

const analysis::Judge &Widget::judge() const
{
    return m_recording->judge();
}

void Widget::initAnalysis()
{
    m_analysis.reset(new Analysis(m_recording->judge()));
    m_analysis->statisticsTimer = new QTimer(this);
    m_analysis->statisticsTimer->setSingleShot(true);
    m_analysis->statisticsTimer->setInterval(0);
    connect(m_analysis->statisticsTimer, &QTimer::timeout, this, &Widget::updateStatistics);

    // The Analysis menu goes before Help.
    QAction *before = nullptr;
    for (QAction *action : ui->menuBar->actions()) {
        if (action->menu() && action->menu()->actions().contains(ui->actionManual))
            before = action;
    }
    ui->menuBar->insertMenu(before, ui->menuAnalysis);
    connect(ui->actionSetReference, &QAction::triggered, this, &Widget::setReference);
    connect(ui->actionClearReference, &QAction::triggered, this, &Widget::clearReference);
    connect(ui->actionLimits, &QAction::triggered, this, &Widget::editLimits);

    m_recording->loadAnalysisSettings();
    const auto settings = analysisSettings();

    dataModel->setValueForeground([this](const ReadingStore &store, int index) -> QVariant {
        const analysis::Verdict v = m_analysis->judge.verdict(analysis::sampleAt(store, index));
        if (v == analysis::Verdict::Low || v == analysis::Verdict::High)
            return QBrush(Qt::red);
        return QVariant();
    });
    // The statistics follow the table: new rows, another item, an emptied item.
    connect(dataModel.get(), &QAbstractItemModel::rowsInserted, this, &Widget::scheduleStatistics);
    connect(dataModel.get(), &QAbstractItemModel::rowsRemoved, this, &Widget::scheduleStatistics);
    connect(dataModel.get(), &QAbstractItemModel::modelReset, this, &Widget::scheduleStatistics);
    connect(ui->chart, &DMMChart::visibleRangeChanged, this, &Widget::scheduleStatistics);
    updateStatistics();

    // Off unless the user turned it on: the chart then draws every reading.
    const QString validRangeKey = QStringLiteral("chart/validReadingsOnly");
    ui->cbValidRange->setChecked(settings->value(validRangeKey, false).toBool());
    ui->chart->setValidRangeOnly(ui->cbValidRange->isChecked());
    connect(ui->cbValidRange, &QCheckBox::toggled, this, [this, validRangeKey](bool on) {
        ui->chart->setValidRangeOnly(on);
        const auto settings = analysisSettings();
        settings->setValue(validRangeKey, on);
    });
    showLimitsOnChart();
}

std::optional<analysis::Sample> Widget::newestReading() const
{
    // The active item's own newest reading: the panel may lag behind it, or
    // still show another item's.
    const ItemData *active = activeItemData();
    if (!active || active->readings().isEmpty())
        return std::nullopt;
    const ReadingStore &store = active->readings();
    return analysis::sampleAt(store, store.size() - 1);
}

void Widget::setReference()
{
    Analysis &a = *m_analysis;
    if (const std::optional<analysis::Sample> newest = newestReading()) {
        if (!newest->usable) {
            m_prompt->warning(this, tr("The newest reading has no power to take as a reference "
                                       "(over or under range, 0 mW or no value). No reference "
                                       "was set."));
            return;
        }
        a.judge.setReference(newest->waveLength, newest->dBm);
    } else {
        bool ok = false;
        const QString text = m_prompt->getText(
            this, tr("Set Reference"),
            tr("No reading yet. Reference power in dBm, for every wavelength without a "
               "reference of its own:"),
            QString(), &ok);
        if (!ok)
            return;
        const std::optional<double> dBm = analysis::parseNumber(text, QStringLiteral("dBm"));
        if (!dBm) {
            m_prompt->warning(
                this,
                tr("\"%1\" is not a power in dBm. No reference was set.").arg(text.trimmed()));
            return;
        }
        a.judge.setCommonReference(*dBm);
    }
    judgeChanged();
}

void Widget::clearReference()
{
    if (!m_analysis->judge.hasAnyReference())
        return;
    m_analysis->judge.clearReferences();
    judgeChanged();
}

void Widget::editLimits()
{
    Analysis &a = *m_analysis;
    // Limits are in dB of loss for readings whose wavelength has a reference.
    const std::optional<analysis::Sample> newest = newestReading();
    const bool loss = newest ? a.judge.hasReference(newest->waveLength) : a.judge.hasAnyReference();
    DlgLimits dialog(loss ? DlgLimits::LossDB : DlgLimits::PowerDBm,
                     loss ? a.judge.lossLimits() : a.judge.dBmLimits(), this);
    for (;;) {
        if (m_prompt->exec(dialog) != QDialog::Accepted)
            return;
        analysis::Limits limits;
        QString problem;
        if (dialog.read(&limits, &problem)) {
            if (loss)
                a.judge.setLossLimits(limits);
            else
                a.judge.setDBmLimits(limits);
            judgeChanged();
            return;
        }
        // Shown again with what was typed, so that it can be put right.
        m_prompt->warning(this, problem);
    }
}

void Widget::judgeChanged()
{
    m_recording->saveAnalysisSettings();
    publishJudge();
    showPanelJudgement();
    dataModel->valueForegroundChanged();
    updateStatistics();
    showLimitsOnChart();
}

void Widget::showLimitsOnChart()
{
    // Power limits are lines at a power, drawn in the chart's unit; limits of
    // loss depend on each reading's reference and are not drawn.
    if (!m_analysis)
        return; // the form is still being set up
    const analysis::Judge &judge = m_analysis->judge;
    if (judge.hasAnyReference()) {
        ui->chart->setLimitLines(std::nullopt, std::nullopt);
        return;
    }
    const ReadingStore::Unit unit = ReadingStore::unitOf(ui->cbbChartUnit->currentText());
    auto inUnit = [unit](const std::optional<double> &dBm) -> std::optional<double> {
        if (!dBm)
            return std::nullopt;
        const double mW = std::pow(10.0, *dBm / 10.0);
        return unit == ReadingStore::DBm ? *dBm : unit == ReadingStore::MW ? mW : mW * 1000.0;
    };
    ui->chart->setLimitLines(inUnit(judge.dBmLimits().lower), inUnit(judge.dBmLimits().upper));
}

void Widget::showAnalysisOnPanel(const ReadingStore &store, int index)
{
    m_analysis->hasPanelReading = true;
    m_analysis->panelReading = analysis::sampleAt(store, index);
    showPanelJudgement();
}

void Widget::showPanelJudgement()
{
    const Analysis &a = *m_analysis;
    const analysis::Sample &r = a.panelReading;
    const bool referenced = a.hasPanelReading && a.judge.hasReference(r.waveLength);
    const double loss = a.hasPanelReading ? a.judge.loss(r) : std::nan("");
    ui->lcdBasis->setText(referenced ? tr("REF") : QString());
    ui->lcdLoss->setText(std::isfinite(loss) ? tr("Loss %1 dB").arg(fixed(loss, 2)) : QString());
    ui->lcdLoss->setVisible(!ui->lcdLoss->text().isEmpty());

    const analysis::Verdict verdict =
        a.hasPanelReading ? a.judge.verdict(r) : analysis::Verdict::None;
    ui->lcdVerdict->setText(QLatin1String(analysis::verdictText(verdict)));
    switch (verdict) {
    case analysis::Verdict::Low: // amber
        ui->lcdVerdict->setStyleSheet(
            QStringLiteral("background-color: rgb(255, 176, 0); color: black; font-weight: bold"));
        break;
    case analysis::Verdict::Pass:
        ui->lcdVerdict->setStyleSheet(
            QStringLiteral("background-color: rgb(0, 150, 0); color: white; font-weight: bold"));
        break;
    case analysis::Verdict::High:
        ui->lcdVerdict->setStyleSheet(
            QStringLiteral("background-color: rgb(210, 0, 0); color: white; font-weight: bold"));
        break;
    case analysis::Verdict::None:
        ui->lcdVerdict->setStyleSheet(QString());
        break;
    }
    ui->lcdVerdict->setVisible(verdict != analysis::Verdict::None);
}

void Widget::scheduleStatistics()
{
    if (!m_analysis) // the window is being taken down
        return;
    if (!m_analysis->statisticsTimer->isActive())
        m_analysis->statisticsTimer->start();
}

void Widget::updateStatistics()
{
    Analysis &a = *m_analysis;
    a.statisticsTimer->stop();
    // Each label says what it shows: "Min -3.52 dBm", "Min loss 0.48 dB".
    auto show = [](QLabel *label, const QString &caption, const QString &value = QString()) {
        label->setText(value.isEmpty() ? caption : caption + QLatin1Char(' ') + value);
    };
    ItemData *const activeItem = activeItemData();
    const bool empty = !activeItem || activeItem->readings().isEmpty();
    quint16 waveLength = 0;
    bool zoomed = false;
    analysis::PowerStats stats;
    if (!empty) {
        const ReadingStore &store = activeItem->readings();
        auto &slot = a.figures[activeItem];
        if (!slot) {
            slot = std::make_unique<analysis::ItemFigures>();
            // Figures go with their item.
            connect(activeItem, &QObject::destroyed, &a.items,
                    [&a, item = activeItem] { a.figures.erase(item); });
        }
        slot->follow(store, a.judge);
        // While the chart is zoomed the figures cover its window, at the
        // wavelength of the newest reading in it.
        const DMMChart &chart = *ui->chart;
        zoomed = chart.isZoomed() && chart.lastVisible() < store.size() &&
                 chart.firstVisible() <= chart.lastVisible();
        const int last = zoomed ? chart.lastVisible() : store.size() - 1;
        waveLength = store.waveLength(last);
        stats = zoomed ? slot->range(store, a.judge, chart.firstVisible(), last, waveLength)
                       : slot->whole(waveLength);
    }

    ui->gbStatistics->setTitle(empty    ? tr("Statistics")
                               : zoomed ? tr("Statistics at %1 nm, zoomed").arg(waveLength)
                                        : tr("Statistics at %1 nm").arg(waveLength));
    show(ui->statCount, tr("Count"),
         stats.leftOut > 0 ? tr("%1 (+%2)").arg(stats.count).arg(stats.leftOut)
                           : QString::number(stats.count));
    const std::optional<double> ref = empty ? std::nullopt : a.judge.reference(waveLength);
    auto power = [&](double dBm) {
        if (stats.count == 0 || !std::isfinite(dBm))
            return QString();
        return ref ? tr("%1 dB").arg(fixed(*ref - dBm, 2)) : tr("%1 dBm").arg(fixed(dBm, 2));
    };
    // With a reference the smallest loss belongs to the largest power.
    show(ui->statMin, ref ? tr("Min loss") : tr("Min"), power(ref ? stats.maxDBm : stats.minDBm));
    show(ui->statAvg, ref ? tr("Avg loss") : tr("Avg"), power(stats.averageDBm()));
    show(ui->statMax, ref ? tr("Max loss") : tr("Max"), power(ref ? stats.minDBm : stats.maxDBm));
    auto figure = [](double value, int decimals, const QString &unit) {
        return std::isfinite(value) ? fixed(value, decimals) + QLatin1Char(' ') + unit : QString();
    };
    show(ui->statSpan, tr("Span"), figure(stats.spanDB(), 2, tr("dB")));
    show(ui->statStd, tr("Std"), figure(stats.stdDB(), 3, tr("dB")));
    show(ui->statDrift, tr("Drift"), figure(stats.driftDBPerHour(), 3, tr("dB/h")));
    show(ui->statOutOfLimits, tr("Out of limits"),
         empty || a.judge.limitsFor(waveLength).isEmpty() ? QString()
                                                          : QString::number(stats.outOfLimits));
}
