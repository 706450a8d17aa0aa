// The journal's record format: every field of every kind of reading comes
// back exactly, segments written at different moments join into one row, and
// damaged rows are refused without harm.
#include "journalrecord.h"
#include "reading.h"
#include "readingdigest.h"

#include <QRandomGenerator>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <limits>

class JournalRecordTest : public QObject
{
    Q_OBJECT

private:
    static ReadingStore oddReadings()
    {
        ReadingStore store;
        Reading r;
        r.dateTime = QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9, 123));
        r.dmmDateTime = QDateTime(QDate(2026, 5, 6), QTime(7, 8));
        r.valueUW = 501.187;
        r.valueMW = r.valueUW / 1000.0;
        r.valueDBm = -3.0;
        r.textUW = QStringLiteral("501.2");
        r.textMW = QStringLiteral("0.501");
        r.textDBm = QStringLiteral("-3.00");
        r.unit = QStringLiteral("dBm");
        r.waveLength = 1550;
        store.append(r); // a plain live reading
        Reading over = r;
        over.textUW = over.textMW = over.textDBm = QStringLiteral("    OL");
        over.overload = 1;
        over.valueMW = 39.99; // not uW / 1000
        store.append(over);
        Reading odd = r;
        odd.dateTime = QDateTime(QDate(1901, 1, 1), QTime(0, 0), Qt::UTC);
        odd.dmmDateTime = QDateTime(QDate(2030, 3, 31), QTime(2, 30), Qt::OffsetFromUTC, -34200);
        odd.valueUW = std::numeric_limits<double>::quiet_NaN();
        odd.valueMW = std::numeric_limits<double>::infinity();
        odd.valueDBm = -std::numeric_limits<double>::infinity();
        odd.textUW = QString();
        odd.textMW = QStringLiteral("1.00000000000000000"); // more decimals than a code holds
        odd.textDBm = QString::fromUtf8("\xe2\x88\x92 3 \xce\xbb");
        odd.unit = QStringLiteral("W");
        odd.overload = -7;
        odd.waveLength = 65535;
        odd.stored = true;
        odd.storeNo = std::numeric_limits<int>::min();
        store.append(odd);
        Reading empty; // a default reading: null times, no unit
        store.append(empty);
        Reading stored = r;
        stored.dateTime = QDateTime(QDate(2026, 5, 6), QTime(7, 8), QTimeZone("Asia/Kolkata"));
        stored.stored = true;
        stored.storeNo = 300;
        stored.overload = -1;
        stored.unit = QStringLiteral("uW");
        store.append(stored);
        return store;
    }

    static QByteArray row(const ReadingStore &store, const QVector<QPair<int, int>> &segments)
    {
        QByteArray bytes(1, char(journalrecord::FormatVersion));
        for (const auto &[from, to] : segments) {
            QByteArray records;
            journalrecord::SegmentEncoder encoder;
            for (int i = from; i < to; ++i)
                encoder.add(records, store.fields(i));
            journalrecord::appendSegmentHeader(bytes, quint32(to - from));
            bytes.append(records);
        }
        return bytes;
    }

private slots:
    void everyFieldComesBack()
    {
        const ReadingStore store = oddReadings();
        // Two segments joined as the writer joins commits.
        const QByteArray bytes = row(store, {{0, 2}, {2, store.size()}});
        ReadingStore back;
        QVERIFY(journalrecord::decodeRow(bytes.constData(), bytes.size(), back));
        QCOMPARE(back.size(), store.size());
        for (int i = 0; i < store.size(); ++i) {
            QVERIFY2(back.at(i) == store.at(i), qPrintable(QString::number(i)));
            QCOMPARE(readingDigest(back, i), readingDigest(store, i));
        }
        // A plain live reading is small.
        QVERIFY(row(store, {{0, 1}}).size() < 48);
    }

    void damagedRowsAreRefused()
    {
        const ReadingStore store = oddReadings();
        const QByteArray bytes = row(store, {{0, store.size()}});
        // Cut anywhere: refused, and what was decoded is a true prefix.
        for (int cut = 0; cut < bytes.size(); ++cut) {
            ReadingStore back;
            QVERIFY(!journalrecord::decodeRow(bytes.constData(), cut, back));
            QVERIFY(back.size() < store.size());
            for (int i = 0; i < back.size(); ++i)
                QVERIFY(back.at(i) == store.at(i));
        }
        QByteArray otherVersion = bytes;
        otherVersion[0] = char(journalrecord::FormatVersion + 1);
        ReadingStore none;
        QVERIFY(!journalrecord::decodeRow(otherVersion.constData(), otherVersion.size(), none));
        QCOMPARE(none.size(), 0);
        // Noise never crashes the reader (the sanitizer build watches).
        QRandomGenerator rng(930);
        for (int n = 0; n < 2000; ++n) {
            QByteArray noise = bytes;
            for (int k = 0; k < 4; ++k)
                noise[int(rng.bounded(noise.size()))] = char(rng.bounded(256));
            ReadingStore back;
            journalrecord::decodeRow(noise.constData(), noise.size(), back);
        }
    }
};

QTEST_MAIN(JournalRecordTest)
#include "tst_journalrecord.moc"
