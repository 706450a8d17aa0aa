// Measurement items: create, rename, delete, activate, and refilling the views.
#include "widget.h"

#include "datamodel.h"
#include "dmmchart.h"
#include "itemchartsource.h"
#include "prompt.h"
#include "readingstore.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QDebug>

namespace {
enum class RowKind
{
    None,
    Item,
    StoreGroup,
    LiveGroup,
    OtherGroup
};

RowKind rowKind(const QModelIndex &index)
{
    if (!index.isValid())
        return RowKind::None;
    if (index.parent().isValid())
        return RowKind::Item;
    if (index.row() == 0)
        return RowKind::StoreGroup;
    if (index.row() == 1)
        return RowKind::LiveGroup;
    return RowKind::OtherGroup;
}
} // namespace

QList<QAction *> Widget::actionsForRow(const QModelIndex &index) const
{
    switch (rowKind(index)) {
    case RowKind::Item:
        return {ui->actionItemSetToActive, ui->actionItemRename, ui->actionItemNew,
                ui->actionItemDelete};
    case RowKind::StoreGroup:
        return {ui->actionItemSetToActive, ui->actionItemDownload};
    case RowKind::LiveGroup:
        return {ui->actionItemNew};
    default:
        return {};
    }
}

void Widget::slotCurrentRowChanged(QModelIndex current, QModelIndex previous)
{
    Q_UNUSED(previous)
    if (!current.isValid())
        return;
    ui->itemToolBar->clear();
    ui->itemToolBar->addActions(actionsForRow(current));
}

void Widget::slotItemModeleditDataChanged(QModelIndex index)
{
    if (index.row() != 0)
        qDebug() << "slotItemModeleditDataChanged  " << index.data(Qt::DisplayRole);
}

QStringList Widget::itemNames() const
{
    return m_recording->tree().names();
}

QModelIndex Widget::rowOf(const ItemData *item) const
{
    QStandardItem *row = m_rows.value(item);
    return row ? row->index() : QModelIndex();
}

void Widget::makeCurrent(const QModelIndex &index)
{
    ui->tvItems->setCurrentIndex(index);
    slotCurrentRowChanged(index, QModelIndex());
}

bool Widget::showsItem(const ItemData *item) const
{
    return item && dataModel->store() == &item->readings();
}

void Widget::itemCreated(ItemData *item)
{
    auto *row = new QStandardItem(measureIcon, item->name());
    row->setData(QVariant::fromValue(item), ItemDataRole);
    liveGroupItem->appendRow(row);
    m_rows.insert(item, row);
    if (!m_shownInChart.isEmpty() || severalMeters())
        updateChartCheckBoxes();
}

void Widget::itemRenamed(ItemData *item)
{
    // The tree shows the item's name: let it repaint the row now.
    const QModelIndex index = rowOf(item);
    if (index.isValid())
        emit itemModel->dataChanged(index, index, {Qt::DisplayRole});
    if (m_showInChartAction) // the legend names the items
        refreshOverlays();
}

void Widget::itemAboutToBeDeleted(ItemData *item)
{
    forgetOverlay(item);
    for (auto it = m_meterItems.begin(); it != m_meterItems.end();) {
        if (it.value() == item)
            it = m_meterItems.erase(it);
        else
            ++it;
    }
    if (showsItem(item)) {
        dataModel->clear();
        ui->chart->clearPoints();
    }
    if (QStandardItem *row = m_rows.take(item))
        itemModel->removeRow(row->row(), row->parent() ? row->parent()->index() : QModelIndex());
}

void Widget::activeItemChanged(ItemData *item)
{
    for (auto row = m_rows.cbegin(); row != m_rows.cend(); ++row)
        itemModel->setData(row.value()->index(), row.key() == item, ActiveRole);
    resetAcquisition();
    if (!item) {
        // The views showed readings that may be about to go.
        dataModel->clear();
        ui->chart->clearPoints();
        return;
    }
    refreshViews();
    if (m_showInChartAction) // the item left is drawn over the new one when shown
        refreshOverlays();
}

void Widget::itemReadingsReplaced(ItemData *item)
{
    if (const auto found = m_overlaySources.find(item); found != m_overlaySources.end()) {
        const int series = ui->chart->seriesOf(found->second.get());
        if (series > 0)
            ui->chart->sourceReset(series);
    }
    if (item == activeItemData())
        refreshViews();
    else if (showsItem(item))
        dataModel->clear();
}

void Widget::itemSetToActive(QModelIndex index)
{
    if (!index.isValid() || index == liveGroupItem->index())
        return;
    ItemData *item = TvItemModel::itemDataAt(index);
    if (!item || item == activeItemData())
        return;
    syncViews(); // what arrived for the item being left is shown with it
    m_recording->tree().setActive(item);
}

void Widget::refreshViews()
{
    const ItemData *active = activeItemData();
    if (!active)
        return;
    dataModel->setStore(&active->readings());
    ui->tv->scrollToBottom();

    const QString unit = ui->cbbChartUnit->currentText();
    m_chartSource->setStore(&active->readings());
    m_chartSource->setUnit(unit);
    m_chartSource->setDownloadLabels(false);
    applyChartUnitMode(unit);
    ui->chart->setSource(0, m_chartSource.get());
}

void Widget::applyChartUnitMode(const QString &unit)
{
    // The unit box's text picks the decimals of the chart's value labels.
    ui->chart->applyChartUnitMode(unit);
    showLimitsOnChart();
}

void Widget::on_cbbChartUnit_currentTextChanged(QString text)
{
    refreshViews();
    overlayUnitChanged(text);
}

void Widget::newItem(QString name, ItemData::DataType type)
{
    if (name.isEmpty())
        return;
    resetAcquisition();
    const QModelIndex index = rowOf(m_recording->tree().createItem(name, type));
    itemSetToActive(index);
    makeCurrent(index);
}

QString Widget::firstFreeMeasureName() const
{
    return m_recording->tree().firstFreeMeasureName();
}

void Widget::on_actionItemNew_triggered()
{
    const QString proposal = firstFreeMeasureName();
    bool ok = false;
    const QString name = m_prompt->getText(this, QString(), tr("Name:"), proposal, &ok).trimmed();
    if (!ok || name.isEmpty())
        return;
    newItem(name, ItemData::Measure);
    applyChartUnitMode(ui->cbbChartUnit->currentText());
}

void Widget::on_actionItemDelete_triggered()
{
    const QModelIndex current = ui->tvItems->currentIndex();
    if (rowKind(current) != RowKind::Item)
        return;
    if (m_prompt->question(this, QString(), tr("Are you sure delete this item?"),
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    ItemData *item = TvItemModel::itemDataAt(current);
    const bool wasActive = item == activeItemData();
    if (wasActive)
        syncViews(); // as Stop ends a recording
    // The views let go of its readings and its recording ends; an item that
    // takes over below offers Start again.
    m_recording->tree().deleteItem(item);
    if (wasActive)
        itemSetToActive(ui->tvItems->currentIndex());
}

void Widget::on_actionItemRename_triggered()
{
    const QModelIndex current = ui->tvItems->currentIndex();
    if (rowKind(current) != RowKind::Item)
        return;
    bool ok = false;
    const QString name = m_prompt
                             ->getText(this, QString(), tr("New name:"),
                                       current.data(Qt::DisplayRole).toString(), &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    if (ItemData *item = TvItemModel::itemDataAt(current))
        m_recording->tree().renameItem(item, name);
    resetAcquisition();
}

void Widget::on_actionItemSetToActive_triggered()
{
    itemSetToActive(ui->tvItems->currentIndex());
}

void Widget::on_tvItems_activated(QModelIndex index)
{
    itemSetToActive(index);
}
