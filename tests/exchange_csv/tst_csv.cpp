// The reading CSV files: times, exact numbers and quoting, a round trip of
// every field, what other readers (python's csv module, LibreOffice) see, and
// broken files.
#include "csvreader.h"
#include "csvtext.h"
#include "csvwriter.h"
#include "datamodel.h"
#include "reading.h"
#include "readingstore.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

namespace {

QString meterText(double v, int unit)
{
    if (!std::isfinite(v))
        return QString::number(v);
    const double a = std::fabs(v);
    const int decimals = unit == 2 ? 2 : a >= 1000 ? 0 : a >= 100 ? 1 : a >= 10 ? 2 : 3;
    return QString::number(v, 'f', decimals);
}

// A reading as the meter makes one: the three powers and their texts.
Reading meterReading(double uW, const QString &unit, quint16 waveLength, const QDateTime &time,
                     const QDateTime &meterTime, int overload = 0)
{
    Reading r;
    r.valueUW = uW;
    r.valueMW = uW / 1000.0;
    r.valueDBm = 10.0 * std::log10(r.valueMW);
    r.textUW = meterText(r.valueUW, 0);
    r.textMW = meterText(r.valueMW, 1);
    r.textDBm = meterText(r.valueDBm, 2);
    if (overload != 0) {
        r.textUW = r.textMW = r.textDBm =
            overload > 0 ? QStringLiteral("    OL") : QStringLiteral("   -OL");
        r.valueUW = overload > 0 ? 39990.0 : 0.01;
        r.valueMW = r.valueUW / 1000.0;
        r.valueDBm = 10.0 * std::log10(r.valueMW);
    }
    r.overload = overload;
    r.unit = unit;
    r.waveLength = waveLength;
    r.dateTime = time;
    r.dmmDateTime = meterTime;
    return r;
}

bool sameReading(const Reading &a, const Reading &b)
{
    // NaN has more than one bit pattern; any NaN reads back as NaN.
    auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    Reading x = a, y = b;
    if (same(a.valueUW, b.valueUW) && same(a.valueMW, b.valueMW) && same(a.valueDBm, b.valueDBm))
        y.valueUW = x.valueUW, y.valueMW = x.valueMW, y.valueDBm = x.valueDBm;
    return x == y;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs a python3 script with arguments; its standard output.
QByteArray python(const char *script, const QStringList &arguments)
{
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), QStringList{"-c", script} + arguments);
    if (!py.waitForFinished(60000) || py.exitCode() != 0)
        qWarning("%s", py.readAllStandardError().constData());
    return py.readAllStandardOutput();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

csv::Derived derived(const ReadingStore &store, int i)
{
    // Loss against -3 dBm at 1550 nm and a verdict on it, as the window would.
    csv::Derived d;
    if (store.waveLength(i) == 1550 && store.overload(i) == 0 && std::isfinite(store.valueDBm(i))) {
        d.lossDB = -3.0 - store.valueDBm(i);
        d.verdict = d.lossDB > 1.0 ? "HIGH" : "PASS";
    }
    return d;
}

// Takes the first bytes it has room for, then fails as a full disk does.
class FillingDevice : public QIODevice
{
public:
    explicit FillingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        if (size > m_room) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_room -= size;
        return size;
    }

private:
    qint64 m_room;
};

} // namespace

class CsvTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    ReadingStore sample;

    // Readings with every kind of field, then many ordinary ones.
    void makeSample()
    {
        const QDateTime summer(QDate(2024, 7, 1), QTime(12, 34, 56, 789));
        const QDateTime winter(QDate(2024, 1, 15), QTime(8, 0, 0, 5));
        Reading stored = meterReading(501.187, "dBm", 1550, summer, summer.addSecs(-56));
        stored.stored = true;
        stored.storeNo = 17;
        const Reading special[] = {
            meterReading(501.187, "dBm", 1550, summer, QDateTime()),
            meterReading(0.0123, "uW", 1310, winter, winter.addSecs(-1)),
            meterReading(1234.5, "mW", 850, summer.toUTC(), summer.toOffsetFromUtc(19800)),
            meterReading(0, "dBm", 1550, summer, summer, 1),
            meterReading(0, "uW", 1550, QDateTime(), QDateTime(), -1),
            meterReading(std::nan(""), "mW", 1550, summer, summer),
            meterReading(0.0, "mW", 1550, summer, summer), // 0 mW: -inf dBm
            meterReading(5.0, "W", 1550, summer, summer),  // a unit without values
            stored,
        };
        for (const Reading &r : special)
            sample.append(r);
        // A display text with a comma, quotes and a line break, and a unit of
        // non-Latin letters, still come back as they were.
        Reading odd = meterReading(2.5, "uW", 1625, summer, summer);
        odd.textUW = QStringLiteral("2,5 \"µ\"\r\nW");
        sample.append(odd);
        sample.append(meterReading(2.5, "µW", 1625, summer, summer));

        std::mt19937 random(15);
        std::uniform_real_distribution<double> dBm(-45.0, 10.0);
        const QString units[] = {"uW", "mW", "dBm"};
        for (int i = 0; i < 20000; ++i) {
            const double uW = std::pow(10.0, dBm(random) / 10.0) * 1000.0;
            const QDateTime t = summer.addMSecs(qint64(i) * 997);
            sample.append(
                meterReading(uW, units[i % 3], i % 5 ? 1550 : 1310, t,
                             QDateTime(t.date(), QTime(t.time().hour(), t.time().minute())),
                             i % 101 == 0   ? 1
                             : i % 103 == 0 ? -1
                                            : 0));
        }
    }

    // The sample written as the table shows it, or only its first rows.
    QString exported(const QString &name, int rows = -1)
    {
        DataModel table;
        table.setStore(&sample);
        if (rows >= 0)
            table.removeRows(rows, table.rowCount() - rows);
        const QString path = dir.filePath(name);
        QString error;
        if (!csv::writeReadings(
                path, table, [this](int i) { return derived(sample, i); }, &error))
            qWarning("%s", qPrintable(error));
        return path;
    }

private slots:
    void initTestCase()
    {
        // Local times are written with their offset: a zone with daylight
        // saving shows both.
        qputenv("TZ", "Europe/Berlin");
        QVERIFY(dir.isValid());
        makeSample();
    }

    void timesInIso8601()
    {
        csv::TimeCache times;
        auto text = [&](const QDateTime &t) {
            char out[64];
            return QString::fromLatin1(out, csv::formatTime(out, WallTime::fromDateTime(t), times));
        };
        const QDate d(2024, 7, 1);
        const QTime t(12, 34, 56, 789);
        QCOMPARE(text(QDateTime(d, t)), QStringLiteral("2024-07-01T12:34:56.789+02:00"));
        QCOMPARE(text(QDateTime(QDate(2024, 1, 15), t)),
                 QStringLiteral("2024-01-15T12:34:56.789+01:00"));
        QCOMPARE(text(QDateTime(d, t, Qt::UTC)), QStringLiteral("2024-07-01T12:34:56.789Z"));
        QCOMPARE(text(QDateTime(d, t, Qt::OffsetFromUTC, -(3600 + 120 + 3))),
                 QStringLiteral("2024-07-01T12:34:56.789-01:02:03"));
        QCOMPARE(text(QDateTime(QDate(12345, 1, 2), QTime(3, 4), Qt::UTC)),
                 QStringLiteral("12345-01-02T03:04:00.000Z"));
        QCOMPARE(text(QDateTime()), QString());

        auto parse = [&](const char *s, WallTime *w) {
            return csv::parseTime(s, s + strlen(s), w, times);
        };
        WallTime w;
        QVERIFY(parse("2024-07-01T12:34:56.789+02:00", &w));
        QCOMPARE(w, WallTime::fromDateTime(QDateTime(d, t)));
        QVERIFY(parse("2024-07-01T12:34:56.789+03:00", &w)); // not this zone's offset
        QCOMPARE(w.toDateTime(), QDateTime(d, t, Qt::OffsetFromUTC, 3 * 3600));
        QVERIFY(parse("2024-07-01 12:34:56.5Z", &w));
        QCOMPARE(w.toDateTime(), QDateTime(d, QTime(12, 34, 56, 500), Qt::UTC));
        QVERIFY(parse("2024-07-01T12:34", &w)); // no offset: local
        QCOMPARE(w.toDateTime(), QDateTime(d, QTime(12, 34)));
        QVERIFY(parse("", &w) && w.isNull());
        for (const char *bad : {"2024-02-30T00:00:00", "2024-13-01T00:00", "2024-07-01",
                                "2024-07-01T24:00", "2024-07-01T12:34:56.789+2", "12:34",
                                "2024-07-01T12:34:56.Z", "2024-07-01T12:34:56 garbage"})
            QVERIFY2(!parse(bad, &w), bad);
    }

    void fixedTextsAsQtPrintsThem()
    {
        // The writer prints the meter's fixed-point texts itself: byte for
        // byte what the table shows, halfway cases and zeros included.
        std::mt19937_64 random(930);
        std::uniform_real_distribution<double> exponent(-12.0, 12.0);
        std::vector<double> values = {0.0,   -0.0,  0.125, -0.125, 2.5,    -2.5, 0.5,
                                      1.005, 2.675, -1e-9, 1e300,  5e-324, 0.1,  9.995};
        for (int i = 0; i < 20000; ++i) {
            values.push_back(std::pow(10.0, exponent(random)) * (i % 2 ? 1 : -1));
            values.push_back(std::ldexp(double(random() % 100000), -int(random() % 20)));
        }
        char out[340];
        for (double v : values) {
            for (int decimals = 0; decimals <= 15; ++decimals) {
                const QString expected = QString::number(v, 'f', decimals);
                const QString got = QString::fromLatin1(out, csv::formatFixed(out, v, decimals));
                QVERIFY2(got == expected, qPrintable(expected + QStringLiteral(" / ") + got));
            }
        }
    }

    void roundTripOfEveryField()
    {
        const QString path = exported(QStringLiteral("round.csv"));
        const QByteArray bytes = fileBytes(path);
        QVERIFY(bytes.startsWith(
            "No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Display,Wavelength_nm,Loss_dB,"
            "Verdict,Stored\r\n"));
        // Over range: no powers, the meter's text, no loss.
        QVERIFY(bytes.contains("\r\n4,2024-07-01T12:34:56.789+02:00,2024-07-01T12:34:56.789+02:00"
                               ",,,,dBm,    OL,1550,,,0\r\n"));
        // Exact powers and the loss against -3 dBm, as python's repr() has them.
        QVERIFY(
            bytes.contains("\r\n1,2024-07-01T12:34:56.789+02:00,,501.187,0.501187,"
                           "-3.000002024454176,dBm,-3.00,1550,2.024454175852952e-06,PASS,0\r\n"));
        const int stored = bytes.indexOf("\r\n17,");
        QVERIFY(stored > 0 &&
                bytes.mid(stored, bytes.indexOf("\r\n", stored + 2) - stored).endsWith(",PASS,1"));
        QVERIFY(bytes.contains("\"2,5 \"\"\xC2\xB5\"\"\r\nW\""));

        // Read whole, and in pieces of every small size so that records,
        // quotes and line ends fall across the pieces (the first rows only:
        // a piece of a byte re-reads each row many times).
        const QString head = exported(QStringLiteral("head.csv"), 40);
        for (qint64 piece :
             {qint64(1) << 20, qint64(64), qint64(5), qint64(3), qint64(2), qint64(1)}) {
            const bool whole = piece >= 64;
            csv::ReadResult back = csv::readReadings(whole ? path : head, piece);
            QVERIFY2(back.ok, qPrintable(back.errorMessage));
            QCOMPARE(back.readings.size(), whole ? sample.size() : 40);
            for (int i = 0; i < back.readings.size(); ++i) {
                Reading expected = sample.at(i);
                if (expected.unit != QLatin1String("uW") && expected.unit != QLatin1String("mW") &&
                    expected.unit != QLatin1String("dBm"))
                    expected.textUW = expected.textMW = expected.textDBm = QString();
                Reading got = back.readings.at(i);
                if (expected.textUW.isEmpty() && expected.unit != QLatin1String("uW"))
                    got.textUW = got.textMW = got.textDBm = QString();
                QVERIFY2(sameReading(got, expected), qPrintable(QString::number(i)));
            }
            if (piece == 1 << 20) {
                // And written again: the very same bytes.
                DataModel again;
                again.setStore(&back.readings);
                QBuffer copy;
                copy.open(QIODevice::WriteOnly);
                QVERIFY(csv::writeReadings(copy, again,
                                           [&](int i) { return derived(back.readings, i); }));
                QCOMPARE(copy.data(), bytes);
            }
        }
    }

    // Other programs quote every field (R's write.csv, python's QUOTE_ALL, a
    // spreadsheet's "quote all text cells"): the same readings come back.
    void allQuotedFilesReadExactly()
    {
        const QString plain = exported(QStringLiteral("plain.csv"));
        const QString quoted = dir.filePath(QStringLiteral("quoted.csv"));
        QCOMPARE(python("import csv, sys\n"
                        "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                        "csv.writer(open(sys.argv[2], 'w', encoding='utf-8', newline=''),"
                        " quoting=csv.QUOTE_ALL).writerows(rows)\n",
                        {plain, quoted}),
                 QByteArray());
        QVERIFY(fileBytes(quoted).startsWith("\"No\",\"Time\""));
        const csv::ReadResult a = csv::readReadings(plain);
        const csv::ReadResult b = csv::readReadings(quoted);
        QVERIFY2(b.ok, qPrintable(b.errorMessage));
        QCOMPARE(b.readings.size(), a.readings.size());
        for (int i = 0; i < a.readings.size(); ++i)
            QVERIFY2(sameReading(b.readings.at(i), a.readings.at(i)),
                     qPrintable(QString::number(i)));
    }

    // Stored says which readings came from the meter's memory; files
    // without it are read as before, by their numbers.
    void storedColumn()
    {
        const QByteArray head = QByteArray(csv::kHeader) + "\r\n";
        const QByteArray old = head.left(head.lastIndexOf(',')) + "\r\n";
        auto row = [](int no, const char *stored) {
            return QByteArray::number(no) + ",,,1,0.001,-30,uW,1.000,1550,," + stored + "\r\n";
        };
        auto storeNos = [&](const QByteArray &bytes) { // 0: a live reading
            const QString path = dir.filePath(QStringLiteral("stored.csv"));
            QList<int> numbers;
            const csv::ReadResult r =
                writeFile(path, bytes) ? csv::readReadings(path) : csv::ReadResult();
            for (int i = 0; i < r.readings.size(); ++i)
                numbers << (r.readings.stored(i) ? r.readings.storeNo(i) : 0);
            return r.ok ? numbers : QList<int>{-1};
        };
        QCOMPARE(storeNos(head + row(1, ",1") + row(2, ",1")), QList<int>({1, 2})); // a download
        QCOMPARE(storeNos(head + row(1, ",0") + row(3, ",0")), QList<int>({0, 0})); // a row deleted
        QCOMPARE(storeNos(old + row(1, "") + row(3, "")), QList<int>({0, 3}));
        QCOMPARE(storeNos(head + row(1, ",yes")), QList<int>({-1}));
    }

    // Texts a spreadsheet would run as formulas go behind an apostrophe
    // (numbers never do), and come back as they were.
    void formulaTextsAreGuarded()
    {
        // Each display text, then what a spreadsheet finds in its cell.
        const QStringList texts = {"=1+1", "'=1+1", "@A1", "'@A1",  "\rx",   "'\rx", "'=x",
                                   "''=x", "'x",    "'x",  "-3.52", "-3.52", "-inf", "'-inf"};
        ReadingStore store;
        for (int i = 0; i < texts.size(); i += 2) {
            Reading r = meterReading(1.0, "dBm", 1550, QDateTime(), QDateTime());
            r.textDBm = texts[i];
            store.append(r);
        }
        store.append(meterReading(1.0, "=cmd", 1550, QDateTime(), QDateTime()));
        DataModel table;
        table.setStore(&store);
        const QString path = dir.filePath(QStringLiteral("formulas.csv"));
        QVERIFY(csv::writeReadings(path, table, {}));
        const QJsonArray cells =
            QJsonDocument::fromJson(python("import csv, sys, json\nprint(json.dumps([r[6:8] for r "
                                           "in csv.reader(open(sys.argv[1], newline=''))][1:]))",
                                           {path}))
                .array();
        const csv::ReadResult back = csv::readReadings(path);
        QCOMPARE(cells.size(), store.size());
        for (int i = 0; i < texts.size(); i += 2) {
            QCOMPARE(cells[i / 2].toArray()[1].toString(), texts[i + 1]);
            QCOMPARE(back.readings.ownText(i / 2), texts[i]);
        }
        QCOMPARE(cells.last().toArray()[0].toString(), QStringLiteral("'=cmd"));
        QCOMPARE(back.readings.unit(store.size() - 1), QStringLiteral("=cmd"));
    }

    void aFailedWriteStopsTheFormattingThreads()
    {
        // The disk fills while later blocks are being formatted: the writer
        // says why and returns, its threads stopped, for every place of the
        // failure.
        DataModel table;
        table.setStore(&sample);
        const qint64 size = QFileInfo(exported(QStringLiteral("full.csv"))).size();
        QVERIFY(size > 2 << 20); // blocks of 8192 rows, several of them
        for (qint64 room : {qint64(0), qint64(1000), size / 2, size - 1}) {
            FillingDevice disk(room);
            QString error;
            QVERIFY(!csv::writeReadings(
                disk, table, [this](int i) { return derived(sample, i); }, &error));
            QCOMPARE(error, QStringLiteral("No space left on device"));
        }
    }

    void pythonCsvModuleReadsIt()
    {
        const QString path = exported(QStringLiteral("python.csv"));
        // Each row as python sees it: its field count, the time as an instant,
        // the powers as floats, the display text and the wavelength.
        const char *script = R"(
import csv, sys, json, datetime, math
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8", newline="")))
out = [rows[0]]
number = lambda x: None if not x else float(x) if math.isfinite(float(x)) else x
for r in rows[1:]:
    t = datetime.datetime.fromisoformat(r[1]).timestamp() if r[1] else None
    out.append([len(r), r[0], None if t is None else round(t * 1000),
                [number(x) for x in r[3:6]], r[6], r[7], int(r[8])])
print(json.dumps(out))
)";
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"), {"-c", script, path});
        QVERIFY(py.waitForFinished(60000));
        QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
        const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), sample.size() + 1);
        QCOMPARE(rows.at(0).toVariant().toStringList().join(','), QString(csv::kHeader));
        for (int i = 0; i < sample.size(); ++i) {
            const QJsonArray r = rows.at(i + 1).toArray();
            const QString where = QString::number(i);
            QCOMPARE(r.at(0).toInt(), 12);
            const QDateTime t = sample.dateTime(i).toDateTime();
            if (t.isValid())
                QCOMPARE(qint64(r.at(2).toDouble()), t.toMSecsSinceEpoch());
            else
                QVERIFY(r.at(2).isNull());
            const QJsonArray powers = r.at(3).toArray();
            if (sample.overload(i) != 0) {
                QVERIFY(powers.at(0).isNull() && powers.at(2).isNull());
            } else if (std::isfinite(sample.valueMW(i))) {
                QVERIFY2(powers.at(0).toDouble() == sample.valueUW(i), qPrintable(where));
                QVERIFY2(powers.at(1).toDouble() == sample.valueMW(i), qPrintable(where));
            }
            QCOMPARE(r.at(4).toString(), sample.unit(i));
            QCOMPARE(r.at(5).toString(), sample.ownText(i));
            QCOMPARE(r.at(6).toInt(), int(sample.waveLength(i)));
        }
    }

    void libreOfficeReadsIt()
    {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed (tests/exchange_csv/README.md)");
        const QString path = exported(QStringLiteral("office.csv"));
        // LibreOffice reads the file as CSV (comma, quote, UTF-8) and saves it
        // as .xls; xlrd then shows the cells it made.
        QProcess lo;
        lo.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath("lo"),
                           "--headless", "--norestore", "--infilter=CSV:44,34,76,1", "--convert-to",
                           "xls", "--outdir", dir.filePath("lo-out"), path});
        QVERIFY(lo.waitForFinished(300000));
        const QString xls = dir.filePath(QStringLiteral("lo-out/office.xls"));
        QVERIFY2(QFile::exists(xls), lo.readAllStandardError().constData());
        const char *script = R"(
import sys, json, xlrd
s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
print(json.dumps([s.row_values(r) for r in range(s.nrows)]))
)";
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"), {"-c", script, xls});
        QVERIFY(py.waitForFinished(60000));
        QCOMPARE(py.exitCode(), 0);
        const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), sample.size() + 1);
        QCOMPARE(rows.at(0).toVariant().toStringList().join(','), QString(csv::kHeader));
        int compared = 0;
        for (int i = 0; i < sample.size(); ++i) {
            const QJsonArray r = rows.at(i + 1).toArray();
            const QString where = QString::number(i);
            if (sample.overload(i) == 0 && std::isfinite(sample.valueDBm(i))) {
                // Numbers are numbers, to the last bit LibreOffice keeps.
                for (int k = 0; k < 3; ++k) {
                    const double v = k == 0   ? sample.valueUW(i)
                                     : k == 1 ? sample.valueMW(i)
                                              : sample.valueDBm(i);
                    QVERIFY2(std::fabs(r.at(3 + k).toDouble() - v) <= 1e-13 * std::fabs(v),
                             qPrintable(where));
                }
                ++compared;
            } else if (sample.overload(i) != 0) {
                QCOMPARE(r.at(3).toString(), QString());
                QCOMPARE(r.at(7).toString(), sample.ownText(i)); // "    OL" as text
            }
            QCOMPARE(r.at(6).toString(), sample.unit(i));
            QCOMPARE(r.at(8).toDouble(), double(sample.waveLength(i)));
        }
        QVERIFY(compared > 19000);
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("readings"); // -1: refused
        QTest::addColumn<QString>("message");
        // Files of earlier versions, without the Stored column.
        const QByteArray header =
            QByteArray(csv::kHeader).left(QByteArray(csv::kHeader).lastIndexOf(','));
        const QByteArray row = "1,2024-07-01T12:00:00.000+02:00,,501.2,0.5012,-3,dBm,-3.00,1550,,";
        QTest::newRow("BOM and CRLF")
            << "\xEF\xBB\xBF" + header + "\r\n" + row + "\r\n" + row + "\r\n"
            << 2 << QString();
        QTest::newRow("LF, blank lines, no last line end")
            << header + "\n\n" + row + "\n\n" + row << 2 << QString();
        QTest::newRow("header only") << header + "\r\n" << 0 << QString();
        QTest::newRow("columns reordered, one more, derived ones missing")
            << QByteArray("Wavelength_nm,Display,Unit,Power_dBm,Power_mW,Power_uW,MeterTime,Time,"
                          "No,Note\r\n1310,-3.00,dBm,-3,0.5012,501.2,,,1,hello\r\n")
            << 1 << QString();
        QTest::newRow("empty file") << QByteArray() << -1 << "The file is empty.";
        QTest::newRow("missing column")
            << QByteArray("No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Wavelength_nm\r\n")
            << -1 << "The file has no column \"Display\"";
        QTest::newRow("bad number")
            << header + "\r\n" + row + "\r\n1,,,501.2,abc,-3,dBm,-3.00,1550,,\r\n"
            << -1 << "Row 3: Power_mW \"abc\" is not a number.";
        QTest::newRow("out-of-range number") << header + "\r\n1,,,1e999,1,0,mW,1.000,1550,,\r\n"
                                             << -1 << "Row 2: Power_uW \"1e999\" is not a number.";
        QTest::newRow("some powers missing") << header + "\r\n1,,,501.2,,-3,dBm,-3.00,1550,,\r\n"
                                             << -1 << "Row 2: the powers";
        QTest::newRow("bad time") << header + "\r\n1,yesterday,,1,0.001,-30,uW,1.000,1550,,\r\n"
                                  << -1 << "Row 2: Time \"yesterday\" is not a time.";
        QTest::newRow("bad wavelength") << header + "\r\n1,,,1,0.001,-30,uW,1.000,70000,,\r\n"
                                        << -1 << "Row 2: Wavelength_nm \"70000\"";
        QTest::newRow("too few fields") << header + "\r\n1,,,1,0.001\r\n"
                                        << -1 << "Row 2: 5 fields where 9 are needed.";
        QTest::newRow("quote not closed") << header + "\r\n1,,,1,0.001,-30,uW,\"1.000,1550,,\r\n"
                                          << -1 << "Row 2: a quoted field is not closed.";
        QTest::newRow("text after a quote") << header + "\r\n1,,,1,0.001,-30,uW,\"1\"x,1550,,\r\n"
                                            << -1 << "Row 2: text follows a quoted field.";
        QTest::newRow("a row of 100 kB")
            << header + "\r\n1,,,1,0.001,-30,uW," + QByteArray(100000, 'x') + ",1550,,\r\n"
            << -1 << "Row 2 is longer than";
        QByteArray garbage(4096, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) % 251);
        QTest::newRow("binary") << garbage << -1 << QString();
    }

    void brokenFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, readings);
        QFETCH(QString, message);
        const QString path = dir.filePath(QStringLiteral("broken.csv"));
        QVERIFY(writeFile(path, bytes));
        const csv::ReadResult result = csv::readReadings(path);
        if (readings < 0) {
            QVERIFY(!result.ok);
            QVERIFY2(result.errorMessage.startsWith(message) && !result.errorMessage.isEmpty(),
                     qPrintable(result.errorMessage));
            QCOMPARE(result.readings.size(), 0); // nothing half-read is handed on
        } else {
            QVERIFY2(result.ok, qPrintable(result.errorMessage));
            QCOMPARE(result.readings.size(), readings);
            if (readings > 0)
                QCOMPARE(result.readings.valueUW(0), 501.2);
        }
    }
};

QTEST_GUILESS_MAIN(CsvTest)
#include "tst_csv.moc"
