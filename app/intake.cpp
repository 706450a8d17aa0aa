// Live readings from the meter.
#include "widget.h"

#include "datamodel.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "widgetform.h"

#include <QDebug>
#include <QTableView>
#include <QTimer>

namespace {

// Scrolling the table lays it out at once (header geometry, section positions,
// a scroll of the viewport), which per reading costs far more than the reading
// itself and grows with the row count. Nothing is painted before control
// returns to the event loop, so one scroll per turn of the loop shows the same
// newest row.
void scrollToBottomSoon(QTableView *table)
{
    static const QString name = QStringLiteral("kv930IntakeScroll");
    auto *timer = table->findChild<QTimer *>(name, Qt::FindDirectChildrenOnly);
    if (!timer) {
        timer = new QTimer(table);
        timer->setObjectName(name);
        timer->setSingleShot(true);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, table, &QAbstractItemView::scrollToBottom);
    }
    if (!timer->isActive())
        timer->start();
}

} // namespace

void Widget::slotDmmDisplay(const DmmData *data)
{
    if (!data) {
        qWarning("Meter driver fault: display() carried no reading; ignored.");
        return;
    }
    // From here on the reading is ours: it is stored or deleted, never leaked.
    auto *reading = const_cast<DmmData *>(data);
    if (!acquiring || !activeItem || activeItem->type() != ItemData::Measure) {
        delete reading;
        return;
    }
    activeItem->addData(reading);
    dataModel->appendData(reading);
    scrollToBottomSoon(ui->tv);

    const QString chartUnit = ui->cbbChartUnit->currentText();
    ui->chart->addPoint(chartPointFor(reading, chartUnit), 0);

    const QString unit = reading->unit();
    ui->lcdValue->setText(reading->valueText(unit));
    ui->lcdUnit->setText(unit);
    ui->lcdDmmDatetime->setText(
        reading->dmmDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")));
    ui->lcdWaveLen->setText(
        QStringLiteral("  %1 %2nm").arg(QChar(0x03BB)).arg(reading->waveLength()));
}
