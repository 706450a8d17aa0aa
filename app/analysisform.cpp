// The form's part for loss, statistics and limits: the Analysis actions, the
// panel's loss and verdict labels and the statistics box under the panel.
#include "widgetform.h"

namespace Ui {

namespace {
QLabel *statLabel(QGroupBox *box, QFormLayout *form, const char *objectName)
{
    auto *label = new QLabel(box);
    label->setObjectName(QLatin1String(objectName));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(new QLabel(box), label); // the caption is named in retranslateAnalysisUi
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
    formStatistics = new QFormLayout(gbStatistics);
    formStatistics->setObjectName(QStringLiteral("formStatistics"));
    formStatistics->setVerticalSpacing(2);
    statCount = statLabel(gbStatistics, formStatistics, "statCount");
    statMin = statLabel(gbStatistics, formStatistics, "statMin");
    statAvg = statLabel(gbStatistics, formStatistics, "statAvg");
    statMax = statLabel(gbStatistics, formStatistics, "statMax");
    statSpan = statLabel(gbStatistics, formStatistics, "statSpan");
    statStd = statLabel(gbStatistics, formStatistics, "statStd");
    statDrift = statLabel(gbStatistics, formStatistics, "statDrift");
    statOutOfLimits = statLabel(gbStatistics, formStatistics, "statOutOfLimits");
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
    gbStatistics->setToolTip(
        tr("Readings of the active item at one wavelength; over- and under-range readings "
           "and readings without a value are left out and counted apart."));
    const char *captions[] = {
        QT_TRANSLATE_NOOP("Widget", "Readings"), QT_TRANSLATE_NOOP("Widget", "Min"),
        QT_TRANSLATE_NOOP("Widget", "Avg"),      QT_TRANSLATE_NOOP("Widget", "Max"),
        QT_TRANSLATE_NOOP("Widget", "Span"),     QT_TRANSLATE_NOOP("Widget", "Std"),
        QT_TRANSLATE_NOOP("Widget", "Drift"),    QT_TRANSLATE_NOOP("Widget", "Out of limits")};
    for (int row = 0; row < formStatistics->rowCount() && row < 8; ++row) {
        if (auto *caption = qobject_cast<QLabel *>(
                formStatistics->itemAt(row, QFormLayout::LabelRole)->widget()))
            caption->setText(tr(captions[row]));
    }
}

} // namespace Ui
