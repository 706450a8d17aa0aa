#pragma once

#include <QAbstractTableModel>

#include <functional>
#include <vector>

class ReadingStore;

// The reading table: one reading per row, five columns (number, time, value,
// unit, wavelength). The model shows the readings of a store it does not own
// (the active item's) and formats each cell when a view asks for it, so a row
// costs the model nothing until it is seen.
//
// Rows follow the store when told: readings appended to the store become rows
// at the next syncRows(), in one insertion however many arrived, so a burst
// of readings lays the view out once.
class DataModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit DataModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Takes rows out of the table; the readings stay in their store.
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // Shows the store's readings (announced as inserted rows, after removing
    // what was shown). The store must outlive its use here: call clear() or
    // setStore() with another store before it goes.
    void setStore(const ReadingStore *store);
    const ReadingStore *store() const { return m_store; }
    // Announces the readings appended to the store since the last call as new
    // last rows; returns the row count.
    int syncRows();
    // Removes every row and lets go of the store.
    void clear();

    // The store index a row shows.
    int readingIndex(int row) const { return m_rowMap.empty() ? row : m_rowMap[size_t(row)]; }

    // The display value of a table cell for a reading shown in the given row
    // (the "NO." of a live reading is its row number + 1): an int for column
    // 0, a QString for the others. Exports use it to write what the table shows.
    static QVariant cell(const ReadingStore &store, int index, int row, int column);

    // Colours the value column: asked for a reading's foreground (a QBrush or
    // QColor; an invalid QVariant keeps the view's) under Qt::ForegroundRole.
    // The model knows nothing of why; the window decides.
    using ValueForeground = std::function<QVariant(const ReadingStore &store, int index)>;
    void setValueForeground(ValueForeground foreground);
    // The foregrounds changed: views ask again.
    void valueForegroundChanged();

private:
    const ReadingStore *m_store = nullptr;
    int m_rows = 0;            // rows announced to views
    int m_nextReading = 0;     // first store index not yet shown
    std::vector<int> m_rowMap; // store index per row, once rows were removed (m_mapped)
    bool m_mapped = false;
    ValueForeground m_valueForeground;
};
