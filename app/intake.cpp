// Live readings from the meter.
#include "widget.h"

#include "datamodel.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "widgetform.h"

#include <QDebug>

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
    scrollTableToBottom();

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
