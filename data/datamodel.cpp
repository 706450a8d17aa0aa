#include "datamodel.h"

#include "dmmdata.h"

#include <algorithm>

namespace {
constexpr int ColumnCount = 5;
}

DataModel::DataModel(QObject *parent) : QAbstractTableModel(parent) {}

int DataModel::rowCount(const QModelIndex &parent) const
{
    // A table has no rows below a cell; answering otherwise makes every cell
    // look like a parent to tree-walking code and proxies.
    if (parent.isValid())
        return 0;
    return m_datas.size();
}

int DataModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return ColumnCount;
}

QVariant DataModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_datas.size() ||
        index.column() < 0 || index.column() >= ColumnCount)
        return QVariant();

    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return QVariant();

    const DmmData *reading = m_datas.at(index.row());
    switch (index.column()) {
    case 0:
        return reading->stored() ? reading->storeNo() : index.row() + 1;
    case 1:
        if (reading->stored())
            return reading->dmmDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        return reading->dateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case 2:
        return reading->valueText(reading->unit());
    case 3:
        return reading->unit();
    case 4:
        return QStringLiteral("%1nm").arg(reading->waveLength());
    }
    return QVariant();
}

QVariant DataModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return tr("NO.");
    case 1:
        return tr("Time");
    case 2:
        return tr("Value");
    case 3:
        return tr("Unit");
    case 4:
        return tr("WaveLength");
    }
    return QVariant();
}

Qt::ItemFlags DataModel::flags(const QModelIndex &index) const
{
    return QAbstractTableModel::flags(index);
}

bool DataModel::removeRows(int row, int count, const QModelIndex &parent)
{
    const int rows = m_datas.size();
    if (row > rows - 1)
        return false;
    // Rows below a cell do not exist in a table.
    if (parent.isValid())
        return false;
    // Only rows that exist are announced and removed: announcing rows the
    // model does not have would leave attached views out of step with it.
    const qint64 first = std::max<qint64>(row, 0);
    const qint64 last = std::min<qint64>(qint64(row) + count - 1, rows - 1);
    if (last < first)
        return false;

    beginRemoveRows(parent, int(first), int(last));
    m_datas.erase(m_datas.begin() + first, m_datas.begin() + last + 1);
    endRemoveRows();
    return true;
}

int DataModel::appendData(DmmData *data)
{
    if (!data)
        return m_datas.size();
    const int n = m_datas.size();
    beginInsertRows(QModelIndex(), n, n);
    m_datas.append(data);
    endInsertRows();
    return m_datas.size();
}

int DataModel::setDatas(const QList<DmmData *> &datas)
{
    QList<DmmData *> rows = datas;
    if (rows.contains(nullptr))
        rows.removeAll(nullptr);
    if (rows.isEmpty())
        return m_datas.size();

    // The rows announced must be exactly the rows that arrive; the list is
    // replaced, so rows still shown from before are removed first.
    clear();
    beginInsertRows(QModelIndex(), 0, rows.size() - 1);
    m_datas = rows;
    endInsertRows();
    return m_datas.size();
}

void DataModel::clear()
{
    if (m_datas.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, m_datas.size() - 1);
    m_datas.clear();
    endRemoveRows();
}
