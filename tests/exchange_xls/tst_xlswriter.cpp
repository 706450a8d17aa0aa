#include "importrow.h"
#include "xlsreader.h"
#include "xlstesthelpers.h"
#include "xlswriter.h"

#include "datamodel.h"
#include "dmmdata.h"
#include "itemdata.h"
#include "reading.h"
#include "readingtablesource.h"
#include "tablesource.h"
#include "walltime.h"

#include <QDir>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTemporaryDir>

// Whether a sample time text is a real date-time (not "not a time" nor a
// day that never was).
static QDateTime timeOf(const QString &text)
{
    return text.size() == 16 ? QDateTime::fromString(text, "yyyy-MM-dd hh:mm")
                             : QDateTime::fromString(text, "yyyy-MM-dd hh:mm:ss");
}

static bool isTime(const QString &text)
{
    return timeOf(text).isValid();
}

// Times a 1900-system serial date holds unambiguously (xlrd, like Excel,
// will not place days before March 1900).
static bool isDateCell(const QString &text)
{
    return isTime(text) && timeOf(text).date() >= QDate(1900, 3, 1);
}

// The writer is checked through xlrd (an independent reader) and through our
// FreeXL reader and row conversion (the round trip the program performs).
class TestXlsWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writerStarts();
    void cellsAsAnIndependentReaderSeesThem();
    void columnWidthsFitTheContent();
    void headerOnlyTable();
    void roundTripKeepsEveryCell();
    void longTablesContinueOnFurtherSheets_data();
    void longTablesContinueOnFurtherSheets();
    void sharedStringsAcrossContinueRecords();
    void numbersOfEveryWidth();
    void rowSourceWritesWhatTheModelWrites();
    void readingsGiveTheTablesCells();
    void replacesAnExistingFileWhole();
    void failureLeavesNothingBehind();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestXlsWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestXlsWriter::writerStarts()
{
    QVERIFY(xls::writerAvailable());
}

void TestXlsWriter::cellsAsAnIndependentReaderSeesThem()
{
    const QVector<TableRow> rows = sampleRows();
    auto model = tableModel(rows);
    QString error = QStringLiteral("stale");
    QVERIFY(xls::writeTable(path("a.xls"), tableHeaders(), *model, &error));
    QVERIFY(error.isEmpty());

    const QJsonObject book = xlrdDump(path("a.xls"));
    QCOMPARE(book.value("datemode").toInt(-1), 0);
    const QJsonArray sheets = book.value("sheets").toArray();
    QCOMPARE(sheets.size(), 1);
    const QJsonObject sheet = sheets.at(0).toObject();
    QCOMPARE(sheet.value("name").toString(), QStringLiteral("Sheet1"));
    QCOMPARE(sheet.value("nrows").toInt(), rows.size() + 1);
    QCOMPARE(sheet.value("ncols").toInt(), 5);

    const QJsonArray cells = sheet.value("rows").toArray();
    const QJsonArray header = cells.at(0).toArray();
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(header.at(c).toArray().at(0).toString(), QStringLiteral("text"));
        QCOMPARE(header.at(c).toArray().at(1).toString(), tableHeaders().at(c));
    }
    for (int r = 0; r < rows.size(); ++r) {
        const TableRow &t = rows.at(r);
        const QJsonArray row = cells.at(r + 1).toArray();
        const QJsonArray no = row.at(0).toArray();
        QCOMPARE(no.at(0).toString(), QStringLiteral("number"));
        QCOMPARE(no.at(1).toDouble(), double(t.no));

        const QJsonArray time = row.at(1).toArray();
        QCOMPARE(time.at(2).toString(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (!isDateCell(t.time)) {
            QCOMPARE(time.at(0).toString(), QStringLiteral("text"));
            QCOMPARE(time.at(1).toString(), t.time);
        } else {
            QCOMPARE(time.at(0).toString(), QStringLiteral("date"));
            const QString expected = t.time.size() == 16 ? t.time + QStringLiteral(":00") : t.time;
            QCOMPARE(time.at(3).toString(), expected);
            // Serial days of the 1900 system, independent of xlrd's own conversion.
            const QDateTime dt = QDateTime::fromString(expected, "yyyy-MM-dd hh:mm:ss");
            const double serial = QDate(1899, 12, 30).daysTo(dt.date()) +
                                  dt.time().msecsSinceStartOfDay() / 86400000.0;
            QVERIFY(qAbs(time.at(1).toDouble() - serial) < 1e-9);
        }
        const QStringList texts{t.value, t.unit, t.waveLength};
        for (int c = 2; c < 5; ++c) {
            const QJsonArray cell = row.at(c).toArray();
            QCOMPARE(cell.at(0).toString(), QStringLiteral("text"));
            QCOMPARE(cell.at(1).toString(), texts.at(c - 2));
            QCOMPARE(cell.at(2).toString(), QStringLiteral("@"));
        }
    }
}

void TestXlsWriter::columnWidthsFitTheContent()
{
    QVector<TableRow> rows = sampleRows();
    const QString longValue(40, QLatin1Char('7'));
    rows[0].value = longValue;
    auto model = tableModel(rows);
    QVERIFY(xls::writeTable(path("w.xls"), tableHeaders(), *model));
    const QJsonArray widths = xlrdDump(path("w.xls"))
                                  .value("sheets")
                                  .toArray()
                                  .at(0)
                                  .toObject()
                                  .value("widths")
                                  .toArray();
    QCOMPARE(widths.size(), 5);
    // Column widths count 1/256 of a character.
    QVERIFY(widths.at(1).toInt() >= 19 * 256); // "2024-05-01 12:00:01"
    QVERIFY(widths.at(2).toInt() >= 40 * 256);
    QVERIFY(widths.at(3).toInt() >= 4 * 256);  // "Unit"
    QVERIFY(widths.at(4).toInt() >= 10 * 256); // "WaveLength"
    // Fitted, not simply wide: the short unit column stays narrower.
    QVERIFY(widths.at(3).toInt() < widths.at(1).toInt());
    QVERIFY(widths.at(2).toInt() < 50 * 256);
}

void TestXlsWriter::headerOnlyTable()
{
    auto model = tableModel({});
    QVERIFY(xls::writeTable(path("empty.xls"), tableHeaders(), *model));
    const QJsonObject sheet =
        xlrdDump(path("empty.xls")).value("sheets").toArray().at(0).toObject();
    QCOMPARE(sheet.value("nrows").toInt(), 1);
    QCOMPARE(sheet.value("rows").toArray().at(0).toArray().at(4).toArray().at(1).toString(),
             QStringLiteral("WaveLength"));

    const xls::ReadResult read = xls::readRows(path("empty.xls"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QVERIFY(read.rows.isEmpty());
}

void TestXlsWriter::roundTripKeepsEveryCell()
{
    const QVector<TableRow> rows = sampleRows();
    auto model = tableModel(rows);
    QVERIFY(xls::writeTable(path("rt.xls"), tableHeaders(), *model));

    const xls::ReadResult read = xls::readRows(path("rt.xls"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows.size(), rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const TableRow &t = rows.at(r);
        const QVariantList &cells = read.rows.at(r);
        QCOMPARE(cells.size(), 5);
        QCOMPARE(cells.at(0).toString(), QString::number(t.no));
        if (!isDateCell(t.time)) {
            QCOMPARE(cells.at(1).toString(), t.time);
        } else {
            QCOMPARE(cells.at(1).userType(), int(QMetaType::QDateTime));
            const QString format = t.time.size() == 16 ? "yyyy-MM-dd hh:mm" : "yyyy-MM-dd hh:mm:ss";
            QCOMPARE(cells.at(1).toDateTime(), QDateTime::fromString(t.time, format));
        }
        QCOMPARE(cells.at(2).toString(), t.value);
        QCOMPARE(cells.at(3).toString(), t.unit);
        QCOMPARE(cells.at(4).toString(), t.waveLength);

        // The imported reading shows the same cells in the table again
        // (an imported reading is never a stored one, so times show seconds).
        std::unique_ptr<DmmData> d(readingFromRow(cells));
        QCOMPARE(d->valueText(d->unit()), t.value);
        QCOMPARE(d->unit(), t.unit);
        QCOMPARE(QStringLiteral("%1nm").arg(d->waveLength()), t.waveLength);
        if (isTime(t.time)) {
            const QString shown = d->dateTime().toString("yyyy-MM-dd hh:mm:ss");
            QCOMPARE(shown.left(t.time.size()), t.time);
        } else {
            QVERIFY(d->dateTime().isNull());
        }
    }
}

void TestXlsWriter::longTablesContinueOnFurtherSheets_data()
{
    QTest::addColumn<int>("readings");
    QTest::addColumn<int>("sheets");
    QTest::newRow("one full sheet") << 65535 << 1;
    QTest::newRow("one reading more") << 65536 << 2;
    QTest::newRow("three sheets") << 2 * 65535 + 7 << 3;
}

void TestXlsWriter::longTablesContinueOnFurtherSheets()
{
    QFETCH(int, readings);
    QFETCH(int, sheets);
    QVector<TableRow> rows;
    rows.reserve(readings);
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0));
    for (int i = 0; i < readings; ++i)
        rows.append({i + 1, start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss"),
                     QString::number(i * 0.001, 'f', 3), QStringLiteral("mW"),
                     QStringLiteral("%1nm").arg(i % 2 ? 1550 : 1310)});
    auto model = tableModel(rows);
    QVERIFY(xls::writeTable(path("long.xls"), tableHeaders(), *model));

    const QJsonArray dumped = xlrdDump(path("long.xls"), true).value("sheets").toArray();
    QCOMPARE(dumped.size(), sheets);
    for (int s = 0; s < sheets; ++s) {
        const QJsonObject sheet = dumped.at(s).toObject();
        QCOMPARE(sheet.value("name").toString(), QStringLiteral("Sheet%1").arg(s + 1));
        const int expectedRows = 1 + qMin(65535, readings - s * 65535);
        QCOMPARE(sheet.value("nrows").toInt(), expectedRows);
        const QJsonArray header = sheet.value("rows").toArray().at(0).toArray();
        QCOMPARE(header.at(0).toArray().at(1).toString(), QStringLiteral("No."));
        // The last row of each sheet carries the right reading.
        const QJsonArray last = sheet.value("rows").toArray().last().toArray();
        const int reading = s * 65535 + expectedRows - 2;
        QCOMPARE(last.at(0).toArray().at(1).toDouble(), double(reading + 1));
        QCOMPARE(last.at(1).toArray().at(3).toString(), rows.at(reading).time);
        QCOMPARE(last.at(2).toArray().at(1).toString(), rows.at(reading).value);
    }

    const xls::ReadResult read = xls::readRows(path("long.xls"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows.size(), readings);
    for (int i : {0, 65534, readings - 1}) {
        QCOMPARE(read.rows.at(i).at(0).toString(), QString::number(i + 1));
        QCOMPARE(read.rows.at(i).at(1).toDateTime(), start.addSecs(i));
        QCOMPARE(read.rows.at(i).at(2).toString(), rows.at(i).value);
        QCOMPARE(read.rows.at(i).at(4).toString(), rows.at(i).waveLength);
    }
}

void TestXlsWriter::sharedStringsAcrossContinueRecords()
{
    // Thousands of distinct texts, wide (non-Latin-1) ones among them and
    // texts longer than a record, so strings split across records.
    QVector<TableRow> rows;
    for (int i = 0; i < 3000; ++i) {
        QString value = QStringLiteral("v%1-").arg(i) + QString(i % 37, QLatin1Char('x'));
        if (i % 5 == 0)
            value += QString::fromUtf8("λµ°");
        rows.append({i + 1, QStringLiteral("2024-05-01 12:00:00"), value, QStringLiteral("uW"),
                     QStringLiteral("%1nm").arg(i)});
    }
    rows[1234].value = QString(4000, QChar(0x3bb));
    rows[1500].value = QString(8200, QLatin1Char('a'));
    auto model = tableModel(rows);
    QVERIFY(xls::writeTable(path("sst.xls"), tableHeaders(), *model));

    const QJsonArray cells = xlrdDump(path("sst.xls"))
                                 .value("sheets")
                                 .toArray()
                                 .at(0)
                                 .toObject()
                                 .value("rows")
                                 .toArray();
    QCOMPARE(cells.size(), rows.size() + 1);
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(cells.at(i + 1).toArray().at(2).toArray().at(1).toString(), rows.at(i).value);
        QCOMPARE(cells.at(i + 1).toArray().at(4).toArray().at(1).toString(), rows.at(i).waveLength);
    }

    const xls::ReadResult read = xls::readRows(path("sst.xls"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(read.rows.at(i).at(2).toString(), rows.at(i).value);

    // A text spanning more than two records is beyond FreeXL, so only the
    // independent reader checks the longest cell a sheet can hold.
    rows[1234].value = QString(32767, QChar(0x3bb));
    QVERIFY(xls::writeTable(path("sst-long.xls"), tableHeaders(), *tableModel(rows)));
    const QJsonArray longCells = xlrdDump(path("sst-long.xls"))
                                     .value("sheets")
                                     .toArray()
                                     .at(0)
                                     .toObject()
                                     .value("rows")
                                     .toArray();
    QCOMPARE(longCells.at(1235).toArray().at(2).toArray().at(1).toString(), rows[1234].value);
    QCOMPARE(longCells.at(1236).toArray().at(2).toArray().at(1).toString(), rows[1235].value);
}

void TestXlsWriter::numbersOfEveryWidth()
{
    // Small integers travel as RK values, others as full doubles.
    const QVector<int> numbers{0, 1, -1, 536870911, -536870912, 536870912, 2147483647, -2147483647};
    QVector<TableRow> rows;
    for (int n : numbers)
        rows.append({n, QStringLiteral("2024-05-01 12:00:00"), QStringLiteral("1"),
                     QStringLiteral("uW"), QStringLiteral("1550nm")});
    auto model = tableModel(rows);
    model->setData(model->index(0, 2), 0.501); // a double among the texts
    QVERIFY(xls::writeTable(path("n.xls"), tableHeaders(), *model));

    const QJsonArray cells =
        xlrdDump(path("n.xls")).value("sheets").toArray().at(0).toObject().value("rows").toArray();
    for (int i = 0; i < numbers.size(); ++i) {
        const QJsonArray cell = cells.at(i + 1).toArray().at(0).toArray();
        QCOMPARE(cell.at(0).toString(), QStringLiteral("number"));
        QCOMPARE(cell.at(1).toDouble(), double(numbers.at(i)));
    }
    QCOMPARE(cells.at(1).toArray().at(2).toArray().at(1).toDouble(), 0.501);

    const xls::ReadResult read = xls::readRows(path("n.xls"));
    QCOMPARE(read.rows.size(), numbers.size());
    for (int i = 0; i < numbers.size(); ++i)
        QCOMPARE(read.rows.at(i).at(0).toString(), QString::number(numbers.at(i)));
    QCOMPARE(read.rows.at(0).at(2).toString(), QStringLiteral("0.501"));
}

// The sample rows as a compact store would hand them out: the number, the
// time as epoch milliseconds turned into wall-clock time, the three texts.
class SampleSource : public TableSource
{
public:
    int rowCount() const override { return sampleRows().size(); }
    void row(int index, RowCells &out) const override
    {
        const TableRow t = sampleRows().at(index);
        out.cells[0].setNumber(t.no);
        const QDateTime time = timeOf(t.time);
        const qint64 wall = WallTime::fromDateTime(time).ms;
        if (time.isValid() && wallClockInSheetRange(wall))
            out.cells[1].setTime(wall, t.time.size() != 16);
        else
            out.cells[1].setText(t.time);
        out.cells[2].setText(t.value);
        out.cells[3].setText(t.unit);
        out.cells[4].setText(t.waveLength);
    }
};

void TestXlsWriter::rowSourceWritesWhatTheModelWrites()
{
    QVERIFY(xls::writeTable(path("model.xls"), tableHeaders(), *tableModel(sampleRows())));
    QVERIFY(xls::writeTable(path("source.xls"), tableHeaders(), SampleSource()));
    const QJsonObject model = xlrdDump(path("model.xls"));
    QVERIFY(!model.isEmpty());
    QCOMPARE(xlrdDump(path("source.xls")), model);
}

void TestXlsWriter::readingsGiveTheTablesCells()
{
    // The exports read the readings directly; every cell must be the one the
    // table's display texts gave, stored and live readings, times outside
    // what a sheet holds and null times alike.
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    QRandomGenerator rng(1310);
    for (int i = 0; i < 2000; ++i) {
        Reading r;
        r.valueUW = rng.bounded(40000.0);
        r.textUW = QString::number(r.valueUW, 'f', i % 3);
        r.unit = i % 5 ? QStringLiteral("uW") : QStringLiteral("W");
        r.waveLength = quint16(rng.bounded(2000));
        r.stored = i % 3 == 0;
        r.storeNo = i * 7;
        const QDateTime t =
            QDateTime(QDate(1850, 1, 1), QTime(0, 0)).addMSecs(qint64(rng.bounded(6e12)));
        r.dateTime = i % 50 ? t : QDateTime();
        r.dmmDateTime = i % 70 ? t.addMSecs(-qint64(rng.bounded(1e9))) : QDateTime();
        item.addReading(r);
    }
    DataModel model;
    model.setStore(&item.readings());
    model.removeRows(3, 4); // rows no longer match store indexes
    const ModelTableSource expected(model);
    const ReadingTableSource direct(model);
    QCOMPARE(direct.rowCount(), expected.rowCount());
    RowCells a, b;
    for (int row = 0; row < expected.rowCount(); ++row) {
        expected.row(row, a);
        direct.row(row, b);
        for (int c = 0; c < RowCells::kColumns; ++c) {
            const TableCell &x = a.cells[size_t(c)];
            const TableCell &y = b.cells[size_t(c)];
            QCOMPARE(int(y.kind), int(x.kind));
            QCOMPARE(y.displayText(), x.displayText());
            if (x.kind == TableCell::Time) {
                QCOMPARE(y.wallMsecs, x.wallMsecs);
                QCOMPARE(y.seconds, x.seconds);
            }
            if (x.kind == TableCell::Number)
                QCOMPARE(y.number, x.number);
        }
    }
}

void TestXlsWriter::replacesAnExistingFileWhole()
{
    QVector<TableRow> many;
    for (int i = 0; i < 2000; ++i)
        many.append({i + 1, QStringLiteral("2024-05-01 12:00:00"), QString::number(i),
                     QStringLiteral("uW"), QStringLiteral("1550nm")});
    QVERIFY(xls::writeTable(path("r.xls"), tableHeaders(), *tableModel(many)));
    const qint64 bigSize = QFileInfo(path("r.xls")).size();

    QVERIFY(xls::writeTable(path("r.xls"), tableHeaders(), *tableModel(sampleRows())));
    QVERIFY(QFileInfo(path("r.xls")).size() < bigSize);
    const xls::ReadResult read = xls::readRows(path("r.xls"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows.size(), sampleRows().size());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"r.xls"});
}

void TestXlsWriter::failureLeavesNothingBehind()
{
    auto model = tableModel(sampleRows());
    QString error;
    QVERIFY(!xls::writeTable(path("missing/dir/a.xls"), tableHeaders(), *model, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(path("missing")));

    // A directory in the way is neither replaced nor reported as written.
    QVERIFY(QDir(m_dir->path()).mkdir("taken.xls"));
    QFile keep(path("taken.xls/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("keep");
    keep.close();
    error.clear();
    QVERIFY(!xls::writeTable(path("taken.xls"), tableHeaders(), *model, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(path("taken.xls")).isDir());
    QVERIFY(QFileInfo::exists(path("taken.xls/keep.txt")));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());

    QVERIFY(!xls::writeTable(QString(), tableHeaders(), *model, &error));
}

QTEST_GUILESS_MAIN(TestXlsWriter)
#include "tst_xlswriter.moc"
