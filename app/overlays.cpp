// Comparing items in the chart: items checked in the tree (or shown with the
// context menu's "Show in Chart") are drawn over the active item's chart,
// each in its own colour, on the active item's time axis. The check boxes
// appear once there is something to compare (several meters, or an item
// shown); a window with one meter and nothing shown looks as it always did.
#include "widget.h"

#include "dmmchart.h"
#include "itemchartsource.h"
#include "meterlink.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QAction>
#include <QStandardItem>

void Widget::initOverlays()
{
    m_showInChartAction = new QAction(tr("Show in Chart"), this);
    m_showInChartAction->setObjectName(QStringLiteral("actionShowInChart"));
    m_showInChartAction->setCheckable(true);
    connect(m_showInChartAction, &QAction::triggered, this, [this](bool on) {
        if (ItemData *item = TvItemModel::itemDataAt(ui->tvItems->currentIndex()))
            setShownInChart(item, on);
    });
    // A check box the user ticked or cleared.
    connect(itemModel, &QStandardItemModel::itemChanged, this, [this](QStandardItem *row) {
        if (m_updatingChecks || !row->isCheckable())
            return;
        if (ItemData *item = TvItemModel::itemDataAt(row->index()))
            setShownInChart(item, row->checkState() == Qt::Checked);
    });
}

bool Widget::isShownInChart(const ItemData *item) const
{
    return m_shownInChart.contains(item);
}

void Widget::setShownInChart(ItemData *item, bool shown)
{
    if (!item || item->type() == ItemData::LiveData || !m_recording->tree().holds(item))
        return;
    if (shown)
        m_shownInChart.insert(item);
    else
        m_shownInChart.remove(item);
    refreshOverlays();
}

void Widget::refreshOverlays()
{
    const ItemData *active = activeItemData();
    QList<DMMChart::Overlay> overlays;
    const QString unit = ui->cbbChartUnit->currentText();
    auto add = [&](const ItemData *item) {
        if (!m_shownInChart.contains(item) || item == active)
            return;
        std::unique_ptr<ItemChartSource> &source = m_overlaySources[item];
        if (!source) {
            source = std::make_unique<ItemChartSource>();
            source->setStore(&item->readings());
            source->setUnit(unit);
        }
        overlays.append({source.get(), item->name(), QColor()});
    };
    const ItemTree &tree = m_recording->tree();
    add(tree.storeItem());
    for (int i = 0; i < tree.itemCount(); ++i)
        add(tree.itemAt(i));
    ui->chart->setOverlays(overlays);
    // Sources no longer drawn go only now that the chart let go of them.
    for (auto it = m_overlaySources.begin(); it != m_overlaySources.end();) {
        if (ui->chart->seriesOf(it->second.get()) < 0)
            it = m_overlaySources.erase(it);
        else
            ++it;
    }
    ui->chart->setSeriesName(0, active ? active->name() : QString());
    updateChartCheckBoxes();
}

void Widget::updateChartCheckBoxes()
{
    const bool comparing = severalMeters() || !m_shownInChart.isEmpty();
    m_updatingChecks = true;
    for (auto row = m_rows.cbegin(); row != m_rows.cend(); ++row) {
        QStandardItem *item = row.value();
        if (row.key() == m_recording->tree().storeItem())
            continue;
        item->setCheckable(comparing);
        if (comparing)
            item->setCheckState(m_shownInChart.contains(row.key()) ? Qt::Checked : Qt::Unchecked);
        else
            item->setData(QVariant(), Qt::CheckStateRole);
    }
    m_updatingChecks = false;
}

void Widget::overlayReadingsAppended(const ItemData *item)
{
    const auto found = m_overlaySources.find(item);
    if (found == m_overlaySources.end())
        return;
    const int series = ui->chart->seriesOf(found->second.get());
    if (series > 0)
        ui->chart->sourceAppended(series);
}

void Widget::overlayUnitChanged(const QString &unit)
{
    for (auto &[item, source] : m_overlaySources) {
        source->setUnit(unit);
        const int series = ui->chart->seriesOf(source.get());
        if (series > 0)
            ui->chart->sourceReset(series);
    }
}

void Widget::forgetOverlay(const ItemData *item)
{
    m_shownInChart.remove(item);
    const auto found = m_overlaySources.find(item);
    if (found == m_overlaySources.end())
        return;
    // The chart lets go before the readings do.
    ui->chart->removeOverlay(found->second.get());
    m_overlaySources.erase(found);
}
