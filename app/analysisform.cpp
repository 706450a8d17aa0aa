// The form's part for loss, statistics and limits: the Analysis actions, the
// panel's loss and verdict labels and the statistics box under the panel.
#include "widgetform.h"

namespace Ui {

namespace {
QLabel *statLabel(QGroupBox *box, QVBoxLayout *column, const char *objectName)
{
    auto *label = new QLabel(box);
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
    // One column of labels that each say what they show ("Min -3.52 dBm"):
    // the pane is narrow.
    columnStatistics = new QVBoxLayout(gbStatistics);
    columnStatistics->setObjectName(QStringLiteral("columnStatistics"));
    columnStatistics->setSpacing(2);
    statCount = statLabel(gbStatistics, columnStatistics, "statCount");
    statMin = statLabel(gbStatistics, columnStatistics, "statMin");
    statAvg = statLabel(gbStatistics, columnStatistics, "statAvg");
    statMax = statLabel(gbStatistics, columnStatistics, "statMax");
    statSpan = statLabel(gbStatistics, columnStatistics, "statSpan");
    statStd = statLabel(gbStatistics, columnStatistics, "statStd");
    statDrift = statLabel(gbStatistics, columnStatistics, "statDrift");
    statOutOfLimits = statLabel(gbStatistics, columnStatistics, "statOutOfLimits");
    gridLayout_2->addWidget(gbStatistics, 1, 0);
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
    statCount->setToolTip(tr("In brackets: over- and under-range readings and readings "
                             "without a value, left out of the figures."));
}

} // namespace Ui
