#pragma once

#include "walltime.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

class DmmData;
struct Reading;

// The readings of one item, held compactly: about 58 bytes a reading instead
// of a DmmData object with its strings (several hundred bytes), so that an
// item can hold 10^7 readings.
//
// Columns are kept in chunks of ChunkSize readings, so appending never moves
// what is already held. Times are wall-clock values (WallTime). The meter's
// three display texts are almost always the value printed with a fixed number
// of decimals; such a text is kept as that number of decimals and printed
// again when asked for. Other texts ("    OL", "   -OL", anything a driver
// formats its own way) are interned. Nothing is lost: every field of every
// reading reads back exactly as it was appended.
class ReadingStore
{
public:
    // The unit a reading was shown in.
    enum Unit : quint8
    {
        UW = 0,
        MW = 1,
        DBm = 2,
        NoUnit = 3,   // an empty unit text
        OtherUnit = 4 // any other text (values and texts look up as 0 and empty)
    };
    // Exactly "uW", "mW" or "dBm"; NoUnit for an empty text, OtherUnit otherwise.
    static Unit unitOf(const QString &text);
    static QString unitText(Unit unit);

    static constexpr int ChunkBits = 14;
    static constexpr int ChunkSize = 1 << ChunkBits;

    // One reading in the store's own terms, cheap to read out and to append
    // (no QDateTime, no number formatting): for code that copies readings in
    // bulk, such as the recording journal. A display text that is the value
    // printed in fixed point is given as its number of decimals (0..15);
    // otherwise decimals is -1 and text holds it (empty or any other text).
    struct Fields
    {
        WallTime dateTime;
        WallTime dmmDateTime;
        double values[3] = {0.0, 0.0, 0.0}; // uW, mW, dBm
        qint8 decimals[3] = {-1, -1, -1};
        QString texts[3];
        Unit unit = NoUnit;
        QString unitText; // only for OtherUnit
        int overload = 0;
        quint16 waveLength = 0;
        bool stored = false;
        qint32 storeNo = 0;
    };
    static constexpr int MaxFieldDecimals = 15;
    // The decimals that print value as exactly text in fixed point, or -1.
    static qint8 fixedDecimals(const QString &text, double value);

    ReadingStore();
    ~ReadingStore();
    ReadingStore(ReadingStore &&other) noexcept;
    ReadingStore &operator=(ReadingStore &&other) noexcept;
    ReadingStore(const ReadingStore &) = delete;
    ReadingStore &operator=(const ReadingStore &) = delete;

    int size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    // Differs for every store made and every time one is emptied, so that code
    // keeping figures beside a store can tell a refilled store from one that
    // only grew. Moves carry it along.
    quint64 generation() const { return m_generation; }

    // Appends a copy of the reading's fields; the DmmData stays the caller's.
    void append(const DmmData &reading);
    void append(const Reading &reading);
    // Decimals above MaxFieldDecimals are taken as the text they would print.
    void append(const Fields &fields);
    // The reading the fields describe, texts printed and times rebuilt.
    static Reading readingOf(const Fields &fields);
    // Appends a range of another store (used to merge or copy items).
    void appendFrom(const ReadingStore &other, int from, int count);
    void clear();

    // The whole reading, decoded.
    Reading at(int index) const;
    Fields fields(int index) const;

    // Single fields, cheap. Indexes must be in [0, size()).
    WallTime dateTime(int index) const;
    WallTime dmmDateTime(int index) const;
    double valueUW(int index) const { return chunk(index).uW[slot(index)]; }
    double valueMW(int index) const { return chunk(index).mW[slot(index)]; }
    double valueDBm(int index) const { return chunk(index).dBm[slot(index)]; }
    // The value in a unit; 0.0 for NoUnit and OtherUnit, as DmmData::value.
    double value(int index, Unit unit) const;
    // The display text in a unit; empty for NoUnit and OtherUnit.
    QString text(int index, Unit unit) const;
    Unit unitCode(int index) const;
    QString unit(int index) const;
    quint16 waveLength(int index) const { return chunk(index).waveLength[slot(index)]; }
    bool stored(int index) const { return chunk(index).flags[slot(index)] & StoredFlag; }
    int storeNo(int index) const { return chunk(index).storeNo[slot(index)]; }
    int overload(int index) const;

    // What the reading table shows: the display text in the reading's own unit,
    // and its time (the meter's for stored readings).
    QString ownText(int index) const { return text(index, unitCode(index)); }
    // The decimals of ownText when it is the value in the reading's own unit
    // printed in fixed point (QString::number(value, 'f', decimals)); -1 when
    // it is another text or none. Lets a writer print the text without
    // making a QString of it.
    int ownTextDecimals(int index) const;
    WallTime shownTime(int index) const
    {
        return stored(index) ? dmmDateTime(index) : dateTime(index);
    }

    // Heap bytes held, for the benchmarks.
    qint64 memoryBytes() const;

private:
    enum : quint8
    {
        StoredFlag = 0x01,
        OverloadShift = 1,        // 2 bits: 0 -> 0, 1 -> 1, 2 -> -1, 3 -> m_overloadOverflow
        TimeSpecShift = 3,        // 2 bits: WallTime::Kind of dateTime
        DmmSpecShift = 5,         // 2 bits: WallTime::Kind of dmmDateTime
        OffsetOverflowFlag = 0x80 // an offset did not fit in minutes: m_offsetOverflow
    };
    // Text codes: 0 empty; 1..MaxDecimals+1 the value with code-1 decimals;
    // then interned texts; TextOverflow looks the text up per reading.
    static constexpr quint16 MaxDecimals = 15;
    static constexpr quint16 FirstInterned = MaxDecimals + 2;
    static constexpr quint16 TextOverflow = 0xFFFF;
    static constexpr quint8 UnitOverflow = 0xFF;

    struct Chunk
    {
        qint64 time[ChunkSize];
        qint64 dmmTime[ChunkSize];
        double uW[ChunkSize];
        double mW[ChunkSize];
        double dBm[ChunkSize];
        qint32 storeNo[ChunkSize];
        quint16 waveLength[ChunkSize];
        qint16 timeOffset[ChunkSize]; // minutes, for WallTime::Offset
        qint16 dmmOffset[ChunkSize];
        quint16 text[3][ChunkSize];
        quint8 unit[ChunkSize];
        quint8 flags[ChunkSize];
    };

    const Chunk &chunk(int index) const { return *m_chunks[size_t(index >> ChunkBits)]; }
    static int slot(int index) { return index & (ChunkSize - 1); }
    quint16 internText(int index, int which, const QString &text);
    QString decodeText(int index, int which, quint16 code, double value) const;
    WallTime decodeTime(int index, int which) const;
    void encodeTime(Chunk &c, int index, int which, const WallTime &t, quint8 *flags);
    void appendFields(const Fields &f);
    static quint64 nextGeneration();

    std::vector<std::unique_ptr<Chunk>> m_chunks;
    int m_size = 0;
    quint64 m_generation = nextGeneration();
    QVector<QString> m_interned;
    QHash<QString, quint16> m_internedIds;
    QVector<QString> m_units; // unit codes OtherUnit.. name these
    QHash<QString, quint8> m_unitIds;
    // Rare cases that do not fit the columns, looked up per reading.
    QHash<qint64, QString> m_textOverflow; // key index * 3 + which
    QHash<int, QString> m_unitOverflow;
    QHash<int, int> m_overloadOverflow;
    QHash<qint64, qint32> m_offsetOverflow; // key index * 2 + which, seconds
};
