#pragma once

#include <QList>
#include <QObject>
#include <QString>

class DmmData;

// One measurement item of the item tree: a name, a kind and the readings
// recorded into it. The item owns its readings and deletes them when it is
// cleared or destroyed; views only ever refer to them.
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

    // A copy of the reading list. Cheap: the list is implicitly shared, so
    // nothing is copied until one side changes it. The pointers stay owned
    // by the item.
    QList<DmmData *> datas() const { return m_datas; }
    // The reading list itself, for callers that only look and must not copy.
    const QList<DmmData *> &dataList() const { return m_datas; }
    int dataCount() const { return m_datas.size(); }

    // Appends a reading and takes ownership of it. A null pointer is ignored.
    void addData(DmmData *data);
    // Deletes every reading, then empties the list.
    void clearDatas();

private:
    QString m_name;
    QList<DmmData *> m_datas;
    DataType m_type;
};
