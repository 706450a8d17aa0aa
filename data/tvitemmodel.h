#pragma once

#include <QStandardItemModel>

#include "itemdata.h"

// Custom roles of the item tree's rows.
enum ItemRoles
{
    ActiveRole = Qt::UserRole + 1, // bool: the row is the active item
    ItemDataRole                   // QVariant holding the row's ItemData*
};

Q_DECLARE_METATYPE(ItemData *)

// The item tree's model. Rows show the name of their ItemData rather than the
// text stored in the standard item, so renaming an item only needs setName().
// The active row is drawn bold and orange.
class TvItemModel : public QStandardItemModel
{
    Q_OBJECT
public:
    explicit TvItemModel(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // The ItemData a row carries under ItemDataRole; null when the index is
    // invalid or the row holds no (or some other kind of) object. (Not named
    // itemData(): that name is a virtual of QAbstractItemModel.)
    static ItemData *itemDataAt(const QModelIndex &index);

signals:
    // An edit-role value that differs from the displayed name was stored.
    void editDataChanged(QModelIndex index);
};
