#pragma once

#include "readingstore.h"

#include <QObject>
#include <QString>

class DmmData;
struct Reading;

// One measurement item of the item tree: a name, a kind and the readings
// recorded into it. The readings are kept in a compact store; a DmmData handed
// to addData is copied into it and deleted at once, so the item owns every
// reading it was given from that moment on.
class ItemData : public QObject
{
    Q_OBJECT
public:
    // Plain enum on purpose: it travels as a slot argument, never through the
    // meta-object system. The values are fixed (0..3).
    enum DataType
    {
        LiveData,
        Measure,
        Import,
        StoreData
    };

    ItemData(const QString &name, ItemData::DataType type, QObject *parent = nullptr);
    ~ItemData() override;

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    ItemData::DataType type() const { return m_type; }
    // The meter whose readings the item records, as its ID names it
    // ("virtual", "n774x@tcp://lab3:5025#3"); empty for none (yet).
    QString meter() const { return m_meter; }
    void setMeter(const QString &meter) { m_meter = meter; }

    // The readings, in arrival order. Views refer to this store while the item
    // is active, so it lives exactly as long as the item.
    const ReadingStore &readings() const { return m_readings; }
    int dataCount() const { return m_readings.size(); }

    // Appends a reading and takes ownership of it: its fields are stored and
    // the object is deleted before this returns. A null pointer is ignored.
    void addData(DmmData *data);
    void addReading(const Reading &reading);
    void addReading(const ReadingStore::Fields &fields) { m_readings.append(fields); }
    // Appends every reading of a store at once (taken over whole when the item
    // is empty), so that a reader can build them aside and hand them over only
    // when all went well.
    void addReadings(ReadingStore &&readings);
    // Replaces the readings with a whole store (an item rebuilt from a file or
    // the journal); views showing this item must be refilled afterwards.
    void setReadings(ReadingStore &&readings);
    // Forgets every reading.
    void clearDatas();

private:
    QString m_name;
    QString m_meter;
    ReadingStore m_readings;
    DataType m_type;
};
