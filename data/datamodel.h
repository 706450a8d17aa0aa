#pragma once

#include <QAbstractTableModel>
#include <QList>

class DmmData;

// The reading table: one reading per row, five columns (number, time, value,
// unit, wavelength). The model only refers to readings; they belong to the
// active item and are never deleted here.
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
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // Appends one reading as the new last row and returns the new row count.
    // A null pointer is not stored; the unchanged row count is returned.
    int appendData(DmmData *data);
    // Makes the given list the model's rows and returns the new row count.
    // An empty list does nothing. Null pointers in the list are left out.
    int setDatas(const QList<DmmData *> &datas);
    // Removes every row; the readings stay alive.
    void clear();

private:
    QList<DmmData *> m_datas;
};
