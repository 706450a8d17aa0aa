#include "datamodel.h"

#include "readingstore.h"

#include <algorithm>

namespace {
constexpr int ColumnCount = 5;
constexpr int ValueColumn = 2;
} // namespace

DataModel::DataModel(QObject *parent) : QAbstractTableModel(parent) {}

int DataModel::rowCount(const QModelIndex &parent) const
{
    // A table has no rows below a cell; answering otherwise makes every cell
    // look like a parent to tree-walking code and proxies.
    if (parent.isValid())
        return 0;
    return m_rows;
}

int DataModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return ColumnCount;
}

QVariant DataModel::cell(const ReadingStore &store, int index, int row, int column)
{
    switch (column) {
    case 0:
        return store.stored(index) ? store.storeNo(index) : row + 1;
    case 1:
        return store.stored(index) ? store.dmmDateTime(index).toString(false)
                                   : store.dateTime(index).toString(true);
    case 2:
        return store.ownText(index);
    case 3:
        return store.unit(index);
    case 4:
        return QStringLiteral("%1nm").arg(store.waveLength(index));
    }
    return QVariant();
}

QVariant DataModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows || index.column() < 0 ||
        index.column() >= ColumnCount || !m_store)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role == Qt::ForegroundRole && index.column() == ValueColumn && m_valueForeground)
        return m_valueForeground(*m_store, readingIndex(index.row()));
    if (role != Qt::DisplayRole)
        return QVariant();
    return cell(*m_store, readingIndex(index.row()), index.row(), index.column());
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
    if (row > m_rows - 1)
        return false;
    // Rows below a cell do not exist in a table.
    if (parent.isValid())
        return false;
    // Only rows that exist are announced and removed: announcing rows the
    // model does not have would leave attached views out of step with it.
    const qint64 first = std::max<qint64>(row, 0);
    const qint64 last = std::min<qint64>(qint64(row) + count - 1, m_rows - 1);
    if (last < first)
        return false;

    beginRemoveRows(parent, int(first), int(last));
    if (!m_mapped) {
        // From now on rows and store indexes differ: keep the mapping.
        m_mapped = true;
        m_rowMap.resize(size_t(m_rows));
        for (int r = 0; r < m_rows; ++r)
            m_rowMap[size_t(r)] = r;
    }
    m_rowMap.erase(m_rowMap.begin() + first, m_rowMap.begin() + last + 1);
    m_rows = int(m_rowMap.size());
    endRemoveRows();
    return true;
}

void DataModel::setValueForeground(ValueForeground foreground)
{
    m_valueForeground = std::move(foreground);
    valueForegroundChanged();
}

void DataModel::valueForegroundChanged()
{
    if (m_rows > 0)
        emit dataChanged(index(0, ValueColumn), index(m_rows - 1, ValueColumn),
                         {Qt::ForegroundRole});
}

void DataModel::setStore(const ReadingStore *store)
{
    clear();
    m_store = store;
    syncRows();
}

int DataModel::syncRows()
{
    const int available = m_store ? m_store->size() : 0;
    if (available < m_nextReading) {
        // The store was emptied under us: start again from its first reading.
        const ReadingStore *store = m_store;
        clear();
        m_store = store;
    }
    if (available <= m_nextReading)
        return m_rows;
    const int added = available - m_nextReading;
    beginInsertRows(QModelIndex(), m_rows, m_rows + added - 1);
    if (m_mapped) {
        for (int i = m_nextReading; i < available; ++i)
            m_rowMap.push_back(i);
    }
    m_nextReading = available;
    m_rows += added;
    endInsertRows();
    return m_rows;
}

void DataModel::clear()
{
    if (m_rows > 0) {
        beginRemoveRows(QModelIndex(), 0, m_rows - 1);
        m_rows = 0;
        m_rowMap.clear();
        endRemoveRows();
    }
    m_rowMap.clear();
    m_mapped = false;
    m_store = nullptr;
    m_nextReading = 0;
}
