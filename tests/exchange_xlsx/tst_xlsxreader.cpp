#include "dmmdata.h"
#include "importrow.h"
#include "xlstesthelpers.h"
#include "xlsxreader.h"
#include "xlsxtesthelpers.h"
#include "xlsxwriter.h"
#include "zipwriter.h"

#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// The process's address space now, from /proc.
static qint64 virtualMemoryBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// The table of ../fixtures/xls/readings.csv, which the fixtures were made from.
static const QStringList kTimes{"2024-05-01 12:00:01", "2024-05-01 12:00:02", "2024-05-01 23:59:59",
                                "2024-05-02 00:00:00", "2024-05-02 00:00:01", "2023-12-31 08:15:00",
                                "2023-12-31 08:16:00"};
static const QStringList kTexts{"-3.00", "501.2", "0.501", "    OL", "   -OL", "abc", "12.5"};
static const QStringList kNumbers{"-3", "501.2", "0.501", "    OL", "   -OL", "abc", "12.5"};
static const QStringList kUnits{"dBm", "uW", "mW", "uW", "dBm", "uW", "W"};
static const QStringList kWaves{"1550nm", "1550nm", "0nm", "1310nm", "1550nm", "1550", "850nm"};

// The reader against files of other writers (committed fixtures, see
// tests/fixtures/xlsx/make-fixtures.sh) and against hostile and damaged files.
class TestXlsxReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void otherWriters_data();
    void otherWriters();
    void shortRowsAreReadAsFiveCells_data();
    void shortRowsAreReadAsFiveCells();
    void furtherSheetsOnlyBehindAFullOne();
    void hostileFilesAreRefusedWithinBounds_data();
    void hostileFilesAreRefusedWithinBounds();

private:
    static QString fixture(const QString &name)
    {
        return QStringLiteral(XLSX_FIXTURE_DIR "/") + name;
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    // Files made by a _data function, which must outlive the rows' init().
    QTemporaryDir m_made;
    QString made(const QString &name) const { return m_made.filePath(name); }
};

void TestXlsxReader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestXlsxReader::otherWriters_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("timeCells"); // times as date-time cells, not texts
    QTest::addColumn<QStringList>("values");
    // Shared strings and date-time cells.
    QTest::newRow("LibreOffice, typed")
        << QStringLiteral("libreoffice-typed.xlsx") << true << kTexts;
    // LibreOffice's own types: times stay texts, values become numbers.
    QTest::newRow("LibreOffice, plain")
        << QStringLiteral("libreoffice-plain.xlsx") << false << kNumbers;
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric.xlsx") << true << kNumbers;
    QTest::newRow("Gnumeric, typed") << QStringLiteral("gnumeric-typed.xlsx") << true << kTexts;
    // Inline strings; ISO 8601 date cells (t="d").
    QTest::newRow("XlsxWriter") << QStringLiteral("xlsxwriter-inline.xlsx") << true << kTexts;
    QTest::newRow("openpyxl") << QStringLiteral("openpyxl-iso-dates.xlsx") << true << kTexts;
}

void TestXlsxReader::otherWriters()
{
    QFETCH(QString, file);
    QFETCH(bool, timeCells);
    QFETCH(QStringList, values);
    const xls::ReadResult r = xlsx::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), kTimes.size());
    for (int i = 0; i < r.rows.size(); ++i) {
        const QVariantList &row = r.rows.at(i);
        QCOMPARE(row.at(0).toString(), QString::number(i + 1));
        if (timeCells) {
            QCOMPARE(row.at(1).userType(), int(QMetaType::QDateTime));
            QCOMPARE(row.at(1).toDateTime(),
                     QDateTime::fromString(kTimes.at(i), "yyyy-MM-dd hh:mm:ss"));
        } else {
            QCOMPARE(row.at(1).toString(), kTimes.at(i));
        }
        QCOMPARE(row.at(2).toString(), values.at(i));
        QCOMPARE(row.at(3).toString(), kUnits.at(i));
        QCOMPARE(row.at(4).toString(), kWaves.at(i));
    }
    // The readings the import makes of them.
    std::unique_ptr<DmmData> first(readingFromRow(r.rows.first()));
    QCOMPARE(first->unit(), QStringLiteral("dBm"));
    QCOMPARE(first->value(QStringLiteral("dBm")), -3.0);
    QCOMPARE(first->waveLength(), quint16(1550));
    QCOMPARE(first->dateTime(), QDateTime(QDate(2024, 5, 1), QTime(12, 0, 1)));
}

void TestXlsxReader::shortRowsAreReadAsFiveCells_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("LibreOffice") << QStringLiteral("libreoffice-short-rows.xlsx");
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric-short-rows.xlsx");
}

void TestXlsxReader::shortRowsAreReadAsFiveCells()
{
    // Rows: full, no wavelength, blank, value without unit and wavelength,
    // full. The blank row is no row; the short ones become readings.
    QFETCH(QString, file);
    const xls::ReadResult r = xlsx::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 4);
    for (const QVariantList &row : r.rows)
        QCOMPARE(row.size(), 5);
    QVERIFY(!r.rows.at(1).at(4).isValid());
    QCOMPARE(r.rows.at(1).at(3).toString(), QStringLiteral("uW"));
    QVERIFY(!r.rows.at(2).at(3).isValid());
    QCOMPARE(r.rows.at(3).at(0).toString(), QStringLiteral("4"));
}

void TestXlsxReader::furtherSheetsOnlyBehindAFullOne()
{
    // Sheet1 (2 rows), "Notes", Sheet2 (same header, 1 row): Sheet1 is not
    // full, so the table ends with it. A copied sheet is read once.
    xls::ReadResult r = xlsx::readRows(fixture("libreoffice-sheets.xlsx"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 2);
    r = xlsx::readRows(fixture("libreoffice-copied-sheet.xlsx"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);

    // A sheet is full when its rows reach the last row a sheet has; the next
    // sheet goes on with the table only under the same header.
    const QByteArray full =
        sheetXml(headerRow() + numberRow(2, 1) + numberRow(xlsx::kSheetRows, 2));
    const QByteArray same = sheetXml(headerRow() + numberRow(2, 3));
    const QByteArray other = sheetXml(headerRow().replace("Unit", "Remark") + numberRow(2, 3));
    QVERIFY(writePackage(
        path("same.xlsx"),
        workbookParts({"sheet1.xml", "sheet2.xml"}, {{"sheet1.xml", full}, {"sheet2.xml", same}})));
    r = xlsx::readRows(path("same.xlsx"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);
    QCOMPARE(r.rows.last().at(0).toString(), QStringLiteral("3"));
    QVERIFY(writePackage(path("other.xlsx"),
                         workbookParts({"sheet1.xml", "sheet2.xml"},
                                       {{"sheet1.xml", full}, {"sheet2.xml", other}})));
    r = xlsx::readRows(path("other.xlsx"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 2);
}

// A sheet whose part unpacks to about `megabytes` MB of empty elements,
// deflated a megabyte at a time (about a thousand times smaller).
static bool writeZipBomb(const QString &path, int megabytes)
{
    QMap<QByteArray, QByteArray> parts = workbookParts({"sheet1.xml"}, {});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    ZipWriter zip(file);
    for (auto it = parts.cbegin(); it != parts.cend(); ++it)
        zip.addEntry(it.key(), it.value());
    const QByteArray start =
        sheetXml(headerRow() + numberRow(2, 1)).replace("</sheetData></worksheet>", "");
    QByteArray filler;
    for (int i = 0; i < (1 << 20) / 4; ++i)
        filler += "<x/>";
    const QByteArray end = "</sheetData></worksheet>";
    zip.beginEntry("xl/worksheets/sheet1.xml");
    quint32 crc = zipdeflate::crc32Of(start.constData(), start.size());
    qint64 size = start.size();
    zip.writeData(zipdeflate::deflatePiece(start.constData(), start.size(), 9, false));
    const QByteArray packed = zipdeflate::deflatePiece(filler.constData(), filler.size(), 9, false);
    const quint32 fillerCrc = zipdeflate::crc32Of(filler.constData(), filler.size());
    for (int i = 0; i < megabytes; ++i) {
        zip.writeData(packed);
        crc = zipdeflate::crc32Combine(crc, fillerCrc, filler.size());
        size += filler.size();
    }
    zip.writeData(zipdeflate::deflatePiece(end.constData(), end.size(), 9, true));
    crc =
        zipdeflate::crc32Combine(crc, zipdeflate::crc32Of(end.constData(), end.size()), end.size());
    return zip.endEntry(crc, quint64(size + end.size())) && zip.finish();
}

void TestXlsxReader::hostileFilesAreRefusedWithinBounds_data()
{
    QTest::addColumn<QString>("file");   // made here unless it names a fixture
    QTest::addColumn<QString>("reason"); // a part of the message

    const QByteArray laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
        "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>";
    const QByteArray bomb =
        laughs + sheetXml(headerRow() + "<row r=\"2\"><c r=\"A2\" "
                                        "t=\"inlineStr\"><is><t>&lol3;</t></is></c></row>")
                     .mid(38);
    QByteArray wide = "<row r=\"2\">";
    for (int c = 0; c < 16384; ++c)
        wide += "<c><v>1</v></c>";
    wide += "</row>";
    const QByteArray fine = sheetXml(headerRow() + numberRow(2, 1));

    auto package = [this](const char *name, const QMap<QByteArray, QByteArray> &parts) {
        writePackage(this->made(name), parts);
        return this->made(name);
    };
    QMap<QByteArray, QByteArray> noRels = workbookParts({"sheet1.xml"}, {{"sheet1.xml", fine}});
    noRels.remove("_rels/.rels");
    QMap<QByteArray, QByteArray> withStrings =
        workbookParts({"sheet1.xml"}, {{"sheet1.xml", fine}});
    withStrings["xl/_rels/workbook.xml.rels"].replace(
        "</Relationships>",
        "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "relationships/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>");
    QMap<QByteArray, QByteArray> stringsBomb = withStrings;
    stringsBomb["xl/sharedStrings.xml"] = laughs + "<sst><si><t>&lol3;</t></si></sst>";

    writeZipBomb(made("zip-bomb.xlsx"), 400);
    QTest::newRow("zip bomb") << made("zip-bomb.xlsx") << QStringLiteral("zip bomb");
    QTest::newRow("entity expansion in a sheet")
        << package("laughs.xlsx", workbookParts({"sheet1.xml"}, {{"sheet1.xml", bomb}}))
        << QStringLiteral("document type declaration");
    QTest::newRow("entity expansion in the shared strings")
        << package("laughs-sst.xlsx", stringsBomb) << QStringLiteral("document type declaration");
    QTest::newRow("16,384 columns")
        << package("wide.xlsx",
                   workbookParts({"sheet1.xml"}, {{"sheet1.xml", sheetXml(headerRow() + wide)}}))
        << QStringLiteral("16384 columns");
    QTest::newRow("missing sheet") << package("no-sheet.xlsx", workbookParts({"sheet1.xml"}, {}))
                                   << QStringLiteral("no part xl/worksheets/sheet1.xml");
    QTest::newRow("missing package relationships")
        << package("no-rels.xlsx", noRels) << QStringLiteral("no part _rels/.rels");
    QTest::newRow("missing shared strings")
        << package("no-sst.xlsx", withStrings) << QStringLiteral("no part xl/sharedStrings.xml");
    // Behind a full first sheet, a second sheet entry naming the same part
    // would hand out the same rows again and again.
    const QByteArray full = sheetXml(headerRow() + numberRow(xlsx::kSheetRows, 2));
    QTest::newRow("two sheets, one part")
        << package("shared.xlsx",
                   workbookParts({"sheet1.xml", "sheet1.xml"}, {{"sheet1.xml", full}}))
        << QStringLiteral("share the part");
    QByteArray many = headerRow();
    for (int r = 0; r < 200000; ++r)
        many += "<row><c><v>1</v></c></row>";
    QTest::newRow("200,000 rows from a few kilobytes")
        << package("many.xlsx", workbookParts({"sheet1.xml"}, {{"sheet1.xml", sheetXml(many)}}))
        << QStringLiteral("more rows than its size allows");
    QTest::newRow("a text of 8 MB")
        << package("long-text.xlsx",
                   workbookParts({"sheet1.xml"},
                                 {{"sheet1.xml",
                                   sheetXml("<row r=\"1\"><c t=\"inlineStr\"><is><t>" +
                                            QByteArray(8 << 20, 'a') + "</t></is></c></row>")}}))
        << QStringLiteral("longer than 4 MB");
    QTest::newRow("rows out of order")
        << package("order.xlsx",
                   workbookParts(
                       {"sheet1.xml"},
                       {{"sheet1.xml", sheetXml(headerRow() + numberRow(3, 1) + numberRow(2, 1))}}))
        << QStringLiteral("out of order");
    QTest::newRow("a shared string that is not there")
        << package("sst-index.xlsx",
                   workbookParts(
                       {"sheet1.xml"},
                       {{"sheet1.xml", sheetXml("<row r=\"1\"><c t=\"s\"><v>7</v></c></row>")}}))
        << QStringLiteral("shared string");

    QFile::copy(fixture("libreoffice-typed.xlsx"), made("truncated.xlsx"));
    QFile truncated(made("truncated.xlsx"));
    truncated.resize(truncated.size() / 2);
    QTest::newRow("truncated") << made("truncated.xlsx") << QStringLiteral("zip archive");
    QTest::newRow(".xls renamed") << QStringLiteral(XLSX_FIXTURE_DIR
                                                    "/../xls/libreoffice-typed.xls")
                                  << QStringLiteral("no zip archive");
    QFile(made("empty.xlsx")).open(QIODevice::WriteOnly);
    QTest::newRow("empty file") << made("empty.xlsx") << QStringLiteral("zip archive");
    QTest::newRow("missing file") << made("nothing.xlsx") << QStringLiteral("no such file");
    QTest::newRow("directory") << m_made.path() << QStringLiteral("no such file");
}

void TestXlsxReader::hostileFilesAreRefusedWithinBounds()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);
    // The child reads the file with its address space limited to what it
    // has plus 256 MB (running out of memory kills it) and reports back.
    const QString report = path("report.txt");
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__) // it reserves more address space than that
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(virtualMemoryBytes() + (256 << 20));
        setrlimit(RLIMIT_AS, &limit);
#endif
        const xls::ReadResult r = xlsx::readRows(file);
        QFile out(report);
        out.open(QIODevice::WriteOnly);
        out.write(QByteArray::number(int(r.status)) + ' ' + r.errorMessage.toUtf8());
        out.close();
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the reader died");
    QFile in(report);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QString result = QString::fromUtf8(in.readAll());
    QVERIFY2(!result.startsWith(QString::number(int(xls::ReadStatus::Ok))), qPrintable(result));
    QVERIFY2(result.contains(reason), qPrintable(result));
}

QTEST_GUILESS_MAIN(TestXlsxReader)
#include "tst_xlsxreader.moc"
