#include "itemdata.h"

#include "dmmdata.h"

#include <memory>

ItemData::ItemData(const QString &name, ItemData::DataType type, QObject *parent)
    : QObject(parent), m_name(name), m_type(type)
{
}

ItemData::~ItemData() = default;

void ItemData::addData(DmmData *data)
{
    const std::unique_ptr<DmmData> owned(data);
    if (owned)
        m_readings.append(*owned);
}

void ItemData::addReading(const Reading &reading)
{
    m_readings.append(reading);
}

void ItemData::addReadings(ReadingStore &&readings)
{
    if (m_readings.isEmpty())
        m_readings = std::move(readings);
    else
        m_readings.appendFrom(readings, 0, readings.size());
}

void ItemData::setReadings(ReadingStore &&readings)
{
    m_readings = std::move(readings);
}

void ItemData::clearDatas()
{
    m_readings.clear();
}
