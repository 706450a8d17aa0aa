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
    // Group rows and items alike: every row the default names count.
    QStringList names;
    for (int row = 0; row < itemModel->rowCount(); ++row) {
        const QModelIndex top = itemModel->index(row, 0);
        if (ItemData *item = TvItemModel::itemDataAt(top))
            names << item->name();
        for (int child = 0; child < itemModel->rowCount(top); ++child) {
            if (ItemData *item = TvItemModel::itemDataAt(itemModel->index(child, 0, top)))
                names << item->name();
        }
    }
    return names;
}

void Widget::itemSetToActive(QModelIndex index)
{
    if (!index.isValid() || index == liveGroupItem->index())
        return;
    ItemData *item = TvItemModel::itemDataAt(index);
    if (!item || item == activeItem)
        return;
    syncViews(); // what arrived for the item being left is shown with it
    activeItem = item;
    for (int row = 0; row < itemModel->rowCount(); ++row) {
        const QModelIndex top = itemModel->index(row, 0);
        itemModel->setData(top, false, ActiveRole);
        for (int child = 0; child < itemModel->rowCount(top); ++child)
            itemModel->setData(itemModel->index(child, 0, top), false, ActiveRole);
    }
    itemModel->setData(index, true, ActiveRole);
    resetAcquisition();
    refreshViews();
    journalActivated();
}

void Widget::refreshViews()
{
    if (!activeItem)
        return;
    dataModel->setStore(&activeItem->readings());
    ui->tv->scrollToBottom();

    const QString unit = ui->cbbChartUnit->currentText();
    m_chartSource->setStore(&activeItem->readings());
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
    Q_UNUSED(text)
    refreshViews();
}

void Widget::newItem(QString name, ItemData::DataType type)
{
    if (name.isEmpty())
        return;
    resetAcquisition();
    auto *row = new QStandardItem(measureIcon, name);
    row->setData(QVariant::fromValue(new ItemData(name, type)), ItemDataRole);
    liveGroupItem->appendRow(row);
    const QModelIndex index = row->index();
    itemSetToActive(index);
    ui->tvItems->setCurrentIndex(index);
    slotCurrentRowChanged(index, QModelIndex());
}

QString Widget::firstFreeMeasureName() const
{
    const QStringList names = itemNames();
    for (int number = 1;; ++number) {
        const QString name = QStringLiteral("Measure%1").arg(number);
        if (!names.contains(name))
            return name;
    }
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
    const bool wasActive = item == activeItem;
    if (wasActive) {
        // The views show the readings about to go: empty them first. Its
        // recording ends as Stop ends it; an item that takes over below
        // offers Start again.
        dataModel->clear();
        ui->chart->clearPoints();
        activeItem = nullptr;
        on_actionStop_triggered();
    }
    itemModel->removeRow(current.row(), current.parent());
    journalItemDeleted(item);
    delete item;
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
    if (ItemData *item = TvItemModel::itemDataAt(current)) {
        item->setName(name);
        journalItemRenamed(item);
    }
    resetAcquisition();
    // The tree shows the item's name: let it repaint the row now.
    emit itemModel->dataChanged(current, current, {Qt::DisplayRole});
}

void Widget::on_actionItemSetToActive_triggered()
{
    itemSetToActive(ui->tvItems->currentIndex());
}

void Widget::on_tvItems_activated(QModelIndex index)
{
    itemSetToActive(index);
}
