// The form's part for loss, statistics and limits: the Analysis actions, the
// panel's loss and verdict labels and the statistics box under the panel.
#include "widgetform.h"

namespace Ui {

namespace {
QLabel *statLabel(QWidget *parent, QVBoxLayout *column, const char *objectName)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(label);
    return label;
}
} // namespace

void Widget::setupAnalysisUi(QMainWindow *window)
{
    actionSetReference = new QAction(window);
    actionSetReference->setObjectName(QStringLiteral("actionSetReference"));
    actionClearReference = new QAction(window);
    actionClearReference->setObjectName(QStringLiteral("actionClearReference"));
    actionLimits = new QAction(window);
    actionLimits->setObjectName(QStringLiteral("actionLimits"));
    menuAnalysis = new QMenu(menuBar);
    menuAnalysis->setObjectName(QStringLiteral("menuAnalysis"));
    menuAnalysis->addAction(actionSetReference);
    menuAnalysis->addAction(actionClearReference);
    menuAnalysis->addSeparator();
    menuAnalysis->addAction(actionLimits);

    // Both stay hidden while empty, so that the panel looks as it always did
    // until a reference or limits are set.
    lcdVerdict = new QLabel(lcd);
    lcdVerdict->setObjectName(QStringLiteral("lcdVerdict"));
    lcdVerdict->setAlignment(Qt::AlignCenter);
    lcdVerdict->setMinimumWidth(
        lcdVerdict->fontMetrics().horizontalAdvance(QStringLiteral("HIGH")) + 12);
    lcdVerdict->setVisible(false);
    gridLayout_3->addWidget(lcdVerdict, 1, 0, Qt::AlignLeft);
    lcdLoss = new QLabel(lcd);
    lcdLoss->setObjectName(QStringLiteral("lcdLoss"));
    lcdLoss->setAlignment(Qt::AlignCenter);
    lcdLoss->setVisible(false);
    gridLayout_3->addWidget(lcdLoss, 4, 0, 1, 3);

    gbStatistics = new QGroupBox(widget_2);
    gbStatistics->setObjectName(QStringLiteral("gbStatistics"));
    gbStatistics->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    // The window must still go as short as it always could: the box gives way
    // (its figures scroll) rather than raise the window's smallest height.
    gbStatistics->setMinimumHeight(1);
    // One column of labels that each say what they show ("Min -3.52 dBm"),
    // since the pane is narrow.
    auto *boxLayout = new QVBoxLayout(gbStatistics);
    boxLayout->setContentsMargins(4, 2, 2, 2);
    saStatistics = new QScrollArea(gbStatistics);
    saStatistics->setObjectName(QStringLiteral("saStatistics"));
    saStatistics->setFrameShape(QFrame::NoFrame);
    saStatistics->setWidgetResizable(true);
    saStatistics->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    boxLayout->addWidget(saStatistics);
    auto *figures = new QWidget(saStatistics);
    figures->setObjectName(QStringLiteral("statFigures"));
    columnStatistics = new QVBoxLayout(figures);
    columnStatistics->setObjectName(QStringLiteral("columnStatistics"));
    columnStatistics->setContentsMargins(4, 2, 2, 2);
    columnStatistics->setSpacing(2);
    statCount = statLabel(figures, columnStatistics, "statCount");
    statMin = statLabel(figures, columnStatistics, "statMin");
    statAvg = statLabel(figures, columnStatistics, "statAvg");
    statMax = statLabel(figures, columnStatistics, "statMax");
    statSpan = statLabel(figures, columnStatistics, "statSpan");
    statStd = statLabel(figures, columnStatistics, "statStd");
    statDrift = statLabel(figures, columnStatistics, "statDrift");
    statOutOfLimits = statLabel(figures, columnStatistics, "statOutOfLimits");
    saStatistics->setWidget(figures);
    gridLayout_2->addWidget(gbStatistics, 1, 0);
    // Overloads and readings without a value can be kept out of the chart's
    // range; the box sits at the start of the chart's unit row.
    cbValidRange = new QCheckBox(frame);
    cbValidRange->setObjectName(QStringLiteral("cbValidRange"));
    horizontalLayout->insertWidget(0, cbValidRange);

    // Space goes to the figures first and the tree takes the rest, down to
    // the height it always had at least; otherwise a short window would
    // share its lack of space evenly and scroll the figures while the tree
    // shows empty rows.
    tvItems->setMinimumHeight(tvItems->minimumSizeHint().height());
    tvItems->setSizePolicy(tvItems->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
}

void Widget::retranslateAnalysisUi()
{
    auto tr = [](const char *text) { return QCoreApplication::translate("Widget", text); };
    actionSetReference->setText(tr("Set Reference"));
    actionClearReference->setText(tr("Clear Reference"));
    actionLimits->setText(tr("Limits..."));
    menuAnalysis->setTitle(tr("&Analysis"));
    gbStatistics->setTitle(tr("Statistics"));
    gbStatistics->setToolTip(tr("The active item's readings at one wavelength (the newest "
                                "reading's), or those in the chart's zoom window."));
    cbValidRange->setText(tr("Valid readings only"));
    cbValidRange->setToolTip(tr("Over- and under-range readings and readings without a value "
                                "stay out of the chart's range and line; they show as ticks at "
                                "its top or bottom edge."));
    statCount->setToolTip(tr("In brackets: over- and under-range readings and readings "
                             "without a value, left out of the figures."));
}

} // namespace Ui
