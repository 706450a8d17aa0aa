#include "importrow.h"
#include "xlstesthelpers.h"
#include "xlsxreader.h"
#include "xlsxtesthelpers.h"
#include "xlsxwriter.h"

#include "datamodel.h"
#include "dmmdata.h"
#include "itemdata.h"
#include "reading.h"

#include <QDir>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>

static QDateTime timeOf(const QString &text)
{
    return text.size() == 16 ? QDateTime::fromString(text, "yyyy-MM-dd hh:mm")
                             : QDateTime::fromString(text, "yyyy-MM-dd hh:mm:ss");
}

// Times a 1900-system serial date holds unambiguously (from March 1900).
static bool isDateCell(const QString &text)
{
    return timeOf(text).isValid() && timeOf(text).date() >= QDate(1900, 3, 1);
}

static QJsonArray sheetRows(const QJsonObject &book, int sheet = 0)
{
    return book.value("sheets").toArray().at(sheet).toObject().value("rows").toArray();
}

// The writer is checked through openpyxl and LibreOffice (independent
// readers) and through our reader and row conversion (the round trip the
// program performs).
class TestXlsxWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cellsAsOpenpyxlSeesThem();
    void libreOfficeShowsTheTablesTexts();
    void roundTripOfAnItemsReadings();
    void textsThatXmlCannotCarryAsTheyAre();
    void longTablesContinueOnFurtherSheets_data();
    void longTablesContinueOnFurtherSheets();
    void replacesAnExistingFileWholeOrNothing();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestXlsxWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestXlsxWriter::cellsAsOpenpyxlSeesThem()
{
    const QVector<TableRow> rows = sampleRows();
    QString error = QStringLiteral("stale");
    QVERIFY(xlsx::writeTable(path("a.xlsx"), tableHeaders(), ModelTableSource(*tableModel(rows)),
                             &error));
    QVERIFY(error.isEmpty());

    const QJsonObject book = openpyxlDump(path("a.xlsx"));
    QCOMPARE(book.value("epoch1904").toBool(true), false);
    const QJsonObject sheet = book.value("sheets").toArray().at(0).toObject();
    QCOMPARE(book.value("sheets").toArray().size(), 1);
    QCOMPARE(sheet.value("name").toString(), QStringLiteral("Sheet1"));
    QCOMPARE(sheet.value("nrows").toInt(), rows.size() + 1);
    QCOMPARE(sheet.value("ncols").toInt(), 5);
    const QJsonArray cells = sheet.value("rows").toArray();
    for (int c = 0; c < 5; ++c)
        QCOMPARE(cells.at(0).toArray().at(c).toArray().at(1).toString(), tableHeaders().at(c));
    for (int r = 0; r < rows.size(); ++r) {
        const TableRow &t = rows.at(r);
        const QJsonArray row = cells.at(r + 1).toArray();
        QCOMPARE(row.at(0).toArray().at(0).toString(), QStringLiteral("number"));
        QCOMPARE(row.at(0).toArray().at(1).toDouble(), double(t.no));
        const QJsonArray time = row.at(1).toArray();
        QCOMPARE(time.at(2).toString(), QStringLiteral("yyyy-mm-dd hh:mm:ss"));
        if (isDateCell(t.time)) {
            QCOMPARE(time.at(0).toString(), QStringLiteral("date"));
            QCOMPARE(time.at(1).toString(),
                     t.time.size() == 16 ? t.time + QStringLiteral(":00") : t.time);
        } else {
            QCOMPARE(time.at(0).toString(), QStringLiteral("text"));
            QCOMPARE(time.at(1).toString(), t.time);
        }
        const QStringList texts{t.value, t.unit, t.waveLength};
        for (int c = 2; c < 5; ++c) {
            QCOMPARE(row.at(c).toArray().at(0).toString(), QStringLiteral("text"));
            QCOMPARE(row.at(c).toArray().at(1).toString(), texts.at(c - 2));
            QCOMPARE(row.at(c).toArray().at(2).toString(), QStringLiteral("@"));
        }
    }
    // Widths fitted to the content, as the .xls export fits them.
    const QJsonArray widths = sheet.value("widths").toArray();
    QVERIFY(widths.at(1).toDouble() >= 19); // "2024-05-01 12:00:01"
    QVERIFY(widths.at(4).toDouble() >= 10); // "WaveLength"
    QVERIFY(widths.at(3).toDouble() < widths.at(1).toDouble());
}

void TestXlsxWriter::libreOfficeShowsTheTablesTexts()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice is not installed (scripts/deps.sh installs it)");
    const QVector<TableRow> rows = sampleRows();
    QVERIFY(xlsx::writeTable(path("lo.xlsx"), tableHeaders(), ModelTableSource(*tableModel(rows))));
    // Every sheet to CSV with the cells as LibreOffice shows them.
    QProcess lo;
    lo.start(soffice,
             {QStringLiteral("-env:UserInstallation=file://") + path("profile"), "--headless",
              "--norestore", "--convert-to",
              "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1",
              "--outdir", path("out"), path("lo.xlsx")});
    QVERIFY(lo.waitForFinished(300000));
    QFile csv(path("out/lo-Sheet1.csv"));
    QVERIFY2(csv.open(QIODevice::ReadOnly), lo.readAllStandardError().constData());
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).remove('\r').split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), rows.size() + 1);
    QCOMPARE(lines.at(0).trimmed(), tableHeaders().join(','));
    for (int r = 0; r < rows.size(); ++r) {
        const TableRow &t = rows.at(r);
        // LibreOffice shows every time with seconds.
        const QString time = isDateCell(t.time) && t.time.size() == 16 ? t.time + ":00" : t.time;
        QCOMPARE(lines.at(r + 1).split(',').mid(0, 5),
                 QStringList({QString::number(t.no), time, t.value, t.unit, t.waveLength}));
    }
}

void TestXlsxWriter::roundTripOfAnItemsReadings()
{
    // The function a caller without widgets uses: an item's readings and a name.
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    for (const TableRow &t : sampleRows()) {
        const QDateTime time = timeOf(t.time);
        item.addReading(readingOfRow({t.no, time.isValid() ? QVariant(time) : QVariant(t.time),
                                      t.value, t.unit, t.waveLength}));
    }
    DataModel table;
    table.setStore(&item.readings());
    QVERIFY(xlsx::writeReadings(path("rt.xlsx"), table));

    const xls::ReadResult read = xlsx::readRows(path("rt.xlsx"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows.size(), item.dataCount());
    for (int r = 0; r < read.rows.size(); ++r) {
        const QVariantList &cells = read.rows.at(r);
        for (int c = 0; c < 5; ++c) {
            const QVariant shown = DataModel::cell(item.readings(), r, r, c);
            if (cells.at(c).userType() == QMetaType::QDateTime)
                QCOMPARE(cells.at(c).toDateTime().toString("yyyy-MM-dd hh:mm:ss"),
                         shown.toString());
            else
                QCOMPARE(cells.at(c).toString(), shown.toString());
        }
        // The imported reading is the reading exported.
        std::unique_ptr<DmmData> d(readingFromRow(cells));
        QCOMPARE(d->valueText(d->unit()), item.readings().ownText(r));
        QCOMPARE(d->unit(), item.readings().unit(r));
        QCOMPARE(d->waveLength(), item.readings().waveLength(r));
    }
}

void TestXlsxWriter::textsThatXmlCannotCarryAsTheyAre()
{
    // Markup characters, control characters and a carriage return (which
    // XML reads as a line feed), a text that looks like an escape, spaces
    // at both ends, characters beyond the BMP, half a surrogate pair, and a
    // text longer than a cell holds.
    const QStringList texts{
        QStringLiteral("a<b>&c\"d'"),
        QStringLiteral("bell\x07 tab\t line\r\nend"),
        QStringLiteral("_x0041_ stays _x0041_"),
        QStringLiteral("  spaced  "),
        QString::fromUtf8("λ µW 𝄞"),
        QStringLiteral("half ") + QChar(0xD800) + QStringLiteral(" pair"),
        QString(40000, QLatin1Char('x')),
    };
    QVector<TableRow> rows;
    for (int i = 0; i < texts.size(); ++i)
        rows.append({i + 1, QStringLiteral("2024-05-01 12:00:00"), texts.at(i), "uW", "1550nm"});
    QVERIFY(xlsx::writeTable(path("t.xlsx"), tableHeaders(), ModelTableSource(*tableModel(rows))));

    QStringList expected = texts;
    expected[5] = QStringLiteral("half ") + QChar(0xFFFD) + QStringLiteral(" pair");
    expected[6].truncate(32767);
    const xls::ReadResult read = xlsx::readRows(path("t.xlsx"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    const QJsonArray cells = sheetRows(openpyxlDump(path("t.xlsx")));
    QCOMPARE(cells.size(), rows.size() + 1);
    for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(read.rows.at(i).at(2).toString(), expected.at(i));
        // openpyxl leaves the "_xHHHH_" escapes as they are written.
        QString escaped = expected.at(i);
        escaped.replace(QStringLiteral("_x0041_"), QStringLiteral("_x005F_x0041_"))
            .replace(QChar(7), QStringLiteral("_x0007_"))
            .replace(QChar('\r'), QStringLiteral("_x000D_"));
        QCOMPARE(cells.at(i + 1).toArray().at(2).toArray().at(1).toString(), escaped);
    }
}

void TestXlsxWriter::longTablesContinueOnFurtherSheets_data()
{
    QTest::addColumn<int>("readings");
    QTest::addColumn<int>("sheets");
    // A full first sheet and three readings on the second (a full sheet
    // alone costs as much to write and to read).
    QTest::newRow("three readings more than a sheet holds") << xlsx::kDataRowsPerSheet + 3 << 2;
}

void TestXlsxWriter::longTablesContinueOnFurtherSheets()
{
#if defined(__SANITIZE_ADDRESS__)
    // Two million rows written and read take far longer than a test may;
    // the other cases run the same writer and reader under the sanitizers.
    QSKIP("too slow under AddressSanitizer");
#endif
    QFETCH(int, readings);
    QFETCH(int, sheets);
    const CountingSource source(readings);
    QVERIFY(xlsx::writeTable(path("long.xlsx"), tableHeaders(), source));

    const QJsonArray dumped = openpyxlDump(path("long.xlsx"), true).value("sheets").toArray();
    QCOMPARE(dumped.size(), sheets);
    for (int s = 0; s < sheets; ++s) {
        const QJsonObject sheet = dumped.at(s).toObject();
        QCOMPARE(sheet.value("name").toString(), QStringLiteral("Sheet%1").arg(s + 1));
        QCOMPARE(sheet.value("nrows").toInt(),
                 1 + qMin(xlsx::kDataRowsPerSheet, readings - s * xlsx::kDataRowsPerSheet));
        const QJsonArray rows = sheet.value("rows").toArray();
        QCOMPARE(rows.at(0).toArray().at(0).toArray().at(1).toString(), QStringLiteral("No."));
        QCOMPARE(rows.at(1).toArray().at(0).toArray().at(1).toDouble(),
                 double(s * xlsx::kDataRowsPerSheet + 1));
    }

    qint64 count = 0;
    RowCells expected;
    const xls::ReadSummary read = xlsx::readTable(path("long.xlsx"), [&](const QVariantList &row) {
        if (count % 9973 == 0 || count + 1 >= readings - 1) {
            source.row(int(count), expected);
            QCOMPARE(row.at(0).toString(), QString::number(count + 1));
            QCOMPARE(row.at(1).toDateTime().toString("yyyy-MM-dd hh:mm:ss"),
                     expected.cells[1].displayText());
            QCOMPARE(row.at(2).toString(), expected.cells[2].text);
            QCOMPARE(row.at(4).toString(), expected.cells[4].text);
        }
        ++count;
    });
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(count, qint64(readings));
}

void TestXlsxWriter::replacesAnExistingFileWholeOrNothing()
{
    QVERIFY(xlsx::writeTable(path("r.xlsx"), tableHeaders(), CountingSource(20000)));
    const qint64 bigSize = QFileInfo(path("r.xlsx")).size();
    QVERIFY(xlsx::writeTable(path("r.xlsx"), tableHeaders(), CountingSource(0)));
    QVERIFY(QFileInfo(path("r.xlsx")).size() < bigSize);
    const xls::ReadResult read = xlsx::readRows(path("r.xlsx"));
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QVERIFY(read.rows.isEmpty()); // the header row alone
    QCOMPARE(sheetRows(openpyxlDump(path("r.xlsx"))).size(), 1);

    // Nothing is written where the file cannot be: no folder, a folder in the way.
    QString error;
    QVERIFY(
        !xlsx::writeTable(path("missing/dir/a.xlsx"), tableHeaders(), CountingSource(5), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QDir(m_dir->path()).mkdir("taken.xlsx"));
    error.clear();
    QVERIFY(!xlsx::writeTable(path("taken.xlsx"), tableHeaders(), CountingSource(5), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(path("taken.xlsx")).isDir());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"r.xlsx"});
}

QTEST_GUILESS_MAIN(TestXlsxWriter)
#include "tst_xlsxwriter.moc"
