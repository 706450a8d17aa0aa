// Keeping the views in step with the readings the active item receives.
#include "widget.h"

#include "datamodel.h"
#include "dmmchart.h"
#include "itemchartsource.h"
#include "readingstore.h"
#include "widgetform.h"

#include <QTimer>

namespace {
// Readings arriving faster than this are shown together: one table insertion,
// one chart repaint and one panel update for the whole burst.
constexpr int ViewSyncIntervalMs = 100;
} // namespace

void Widget::itemReadingsAppended(ItemData *item, int count)
{
    Q_UNUSED(count)
    if (item != activeItemData()) {
        overlayReadingsAppended(item);
        return;
    }
    // Live readings go to the panel; stored and imported ones do not.
    if (item->type() == ItemData::Measure)
        m_panelPending = true;
    readingsArrived();
}

void Widget::readingsArrived()
{
    // The first reading after a quiet spell is shown at once; later ones wait
    // for the interval, so a flood costs a handful of view updates a second.
    if (m_viewSyncTimer->isActive())
        return;
    const qint64 since = m_sinceViewSync.isValid() ? m_sinceViewSync.elapsed() : ViewSyncIntervalMs;
    if (since >= ViewSyncIntervalMs)
        syncViewsForReadings();
    else
        m_viewSyncTimer->start(int(ViewSyncIntervalMs - since));
}

void Widget::syncViewsForReadings()
{
    m_sinceViewSync.restart();
    syncViews();
}

void Widget::syncViews()
{
    m_viewSyncTimer->stop();
    const ItemData *active = activeItemData();
    if (!active)
        return;
    const ReadingStore &store = active->readings();
    if (dataModel->store() == &store) {
        const int before = dataModel->rowCount();
        if (dataModel->syncRows() != before)
            scrollTableToBottom();
    }
    if (ui->chart->source(0) == m_chartSource.get())
        ui->chart->sourceAppended(0);
    if (m_panelPending && !store.isEmpty())
        showOnPanel(store, store.size() - 1);
    m_panelPending = false;
}

void Widget::showOnPanel(const ReadingStore &store, int index)
{
    const QString unit = store.unit(index);
    ui->lcdValue->setText(store.ownText(index));
    ui->lcdUnit->setText(unit);
    ui->lcdDmmDatetime->setText(store.dmmDateTime(index).toString(false));
    ui->lcdWaveLen->setText(
        QStringLiteral("  %1 %2nm").arg(QChar(0x03BB)).arg(store.waveLength(index)));
    showAnalysisOnPanel(store, index);
}
