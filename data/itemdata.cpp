#include "itemdata.h"

#include "dmmdata.h"

#include <utility>

ItemData::ItemData(const QString &name, ItemData::DataType type, QObject *parent)
    : QObject(parent), m_name(name), m_type(type)
{
}

ItemData::~ItemData()
{
    clearDatas();
}

void ItemData::addData(DmmData *data)
{
    if (!data)
        return;
    m_datas.append(data);
}

void ItemData::clearDatas()
{
    // Detach the list before deleting, so that nothing reached from a reading's
    // destructor can see (or delete again) a half-deleted list.
    const QList<DmmData *> doomed = std::exchange(m_datas, QList<DmmData *>());
    qDeleteAll(doomed);
}
