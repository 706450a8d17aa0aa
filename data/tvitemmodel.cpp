#include "tvitemmodel.h"

#include <QColor>
#include <QFont>

TvItemModel::TvItemModel(QObject *parent) : QStandardItemModel(parent)
{
    qRegisterMetaType<ItemData *>("ItemData*");
}

ItemData *TvItemModel::itemDataAt(const QModelIndex &index)
{
    if (!index.isValid())
        return nullptr;
    const QVariant value = index.data(ItemDataRole);
    // Only an object pointer can be an item; anything else (an int, a string,
    // a non-object pointer) yields null instead of a reinterpreted address.
    if (!(QMetaType::typeFlags(value.userType()) & QMetaType::PointerToQObject))
        return nullptr;
    return qobject_cast<ItemData *>(value.value<QObject *>());
}

QVariant TvItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QStandardItemModel::data(index, role);

    switch (role) {
    case Qt::DisplayRole: {
        const ItemData *item = itemDataAt(index);
        return item ? item->name() : QString();
    }
    case Qt::FontRole: {
        const QVariant base = QStandardItemModel::data(index, role);
        QFont font = base.canConvert<QFont>() ? base.value<QFont>() : QFont();
        font.setWeight(data(index, ActiveRole).toBool() ? QFont::Bold : QFont::Normal);
        return font;
    }
    case Qt::ForegroundRole:
        if (data(index, ActiveRole).toBool())
            return QColor(QStringLiteral("#d57d00"));
        return QStandardItemModel::data(index, role);
    default:
        return QStandardItemModel::data(index, role);
    }
}

bool TvItemModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const bool differs = value != data(index, Qt::DisplayRole);
    const bool result = QStandardItemModel::setData(index, value, role);
    // A store that failed (invalid index) changed nothing to report.
    if (result && role == Qt::EditRole && differs)
        emit editDataChanged(index);
    return result;
}
