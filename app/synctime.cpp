// Setting the meter's clock.
#include "widget.h"

#include "dlgsynctime.h"
#include "meterlink.h"

void Widget::on_actionSyncTime_triggered()
{
    auto *dialog = new dlgSyncTime(QDateTime::currentDateTime(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &dlgSyncTime::syncTime, this, &Widget::slotSyncTime);
    dialog->show();
}

void Widget::slotSyncTime(QDateTime dt)
{
    if (meter())
        meter()->setMeterTime(dt);
}
