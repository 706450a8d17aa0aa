#include "xlsreader.h"
#include "xlstesthelpers.h"
#include "xlswriter.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

// The reader against files of other writers (committed fixtures, see
// tests/fixtures/xls/make-fixtures.sh) and against files that are no
// readable workbook at all.
class TestXlsReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void libreOfficeTypedColumns();
    void libreOfficeOwnTypes();
    void gnumericOwnTypes();
    void continuedSheetsOnlyWithTheSameHeader();
    void shortRowsAreSkippedAndCounted();
    void ownShortRowsAreSkippedAndCounted();
    void badFilesFailToOpen_data();
    void badFilesFailToOpen();
    void truncatedExportFailsToOpen();
    void damagedStringLengthNeverReachesFreeXL();

private:
    static QString fixture(const QString &name)
    {
        return QStringLiteral(XLS_FIXTURE_DIR "/") + name;
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

// The table of readings.csv, which every fixture was made from.
static const QStringList kTimes{"2024-05-01 12:00:01", "2024-05-01 12:00:02", "2024-05-01 23:59:59",
                                "2024-05-02 00:00:00", "2024-05-02 00:00:01", "2023-12-31 08:15:00",
                                "2023-12-31 08:16:00"};
static const QStringList kValues{"-3.00", "501.2", "0.501", "    OL", "   -OL", "abc", "12.5"};
static const QStringList kUnits{"dBm", "uW", "mW", "uW", "dBm", "uW", "W"};
static const QStringList kWaves{"1550nm", "1550nm", "0nm", "1310nm", "1550nm", "1550", "850nm"};

static QDateTime csvTime(int i)
{
    return QDateTime::fromString(kTimes.at(i), "yyyy-MM-dd hh:mm:ss");
}

void TestXlsReader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestXlsReader::libreOfficeTypedColumns()
{
    // Laid out like our export: B date-time cells, C-E text.
    const xls::ReadResult r = xls::readRows(fixture("libreoffice-typed.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.skippedRows, 0);
    QCOMPARE(r.rows.size(), kTimes.size());
    for (int i = 0; i < r.rows.size(); ++i) {
        const QVariantList &row = r.rows.at(i);
        QCOMPARE(row.at(0).toString(), QString::number(i + 1));
        QCOMPARE(row.at(1).userType(), int(QMetaType::QDateTime));
        QCOMPARE(row.at(1).toDateTime(), csvTime(i));
        QCOMPARE(row.at(2).toString(), kValues.at(i));
        QCOMPARE(row.at(3).toString(), kUnits.at(i));
        QCOMPARE(row.at(4).toString(), kWaves.at(i));
    }
}

void TestXlsReader::libreOfficeOwnTypes()
{
    // LibreOffice keeps the times as text and turns number-like values into
    // numbers, which come back as their shortest decimal text.
    const xls::ReadResult r = xls::readRows(fixture("libreoffice-plain.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), kTimes.size());
    const QStringList values{"-3", "501.2", "0.501", "    OL", "   -OL", "abc", "12.5"};
    for (int i = 0; i < r.rows.size(); ++i) {
        QCOMPARE(r.rows.at(i).at(1).toString(), kTimes.at(i));
        QCOMPARE(r.rows.at(i).at(2).toString(), values.at(i));
        QCOMPARE(r.rows.at(i).at(3).toString(), kUnits.at(i));
        // "1550" became the number 1550.
        QCOMPARE(r.rows.at(i).at(4).toString(), kWaves.at(i));
    }
}

void TestXlsReader::gnumericOwnTypes()
{
    const xls::ReadResult r = xls::readRows(fixture("gnumeric.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), kTimes.size());
    const QStringList values{"-3", "501.2", "0.501", "    OL", "   -OL", "abc", "12.5"};
    for (int i = 0; i < r.rows.size(); ++i) {
        const QVariantList &row = r.rows.at(i);
        QCOMPARE(row.at(0).toString(), QString::number(i + 1));
        // Gnumeric gives the times a date-only format; the time of day is
        // still in the cell and must not get lost.
        QCOMPARE(row.at(1).userType(), int(QMetaType::QDateTime));
        QCOMPARE(row.at(1).toDateTime(), csvTime(i));
        QCOMPARE(row.at(2).toString(), values.at(i));
        QCOMPARE(row.at(3).toString(), kUnits.at(i));
        QCOMPARE(row.at(4).toString(), kWaves.at(i));
    }
}

void TestXlsReader::continuedSheetsOnlyWithTheSameHeader()
{
    // Sheet1 (2 rows), "Notes" (another header), Sheet2 (same header, 1 row).
    const xls::ReadResult r = xls::readRows(fixture("libreoffice-sheets.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);
    QCOMPARE(r.rows.at(0).at(2).toString(), QStringLiteral("-3.00"));
    QCOMPARE(r.rows.at(1).at(2).toString(), QStringLiteral("501.2"));
    QCOMPARE(r.rows.at(2).at(0).toString(), QStringLiteral("3"));
    QCOMPARE(r.rows.at(2).at(2).toString(), QStringLiteral("   -OL"));
    QCOMPARE(r.rows.at(2).at(4).toString(), QStringLiteral("1310nm"));
}

void TestXlsReader::shortRowsAreSkippedAndCounted()
{
    // Rows: full, four cells, blank, three cells, full.
    const xls::ReadResult r = xls::readRows(fixture("gnumeric-short-rows.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.skippedRows, 2);
    QCOMPARE(r.rows.size(), 2);
    QCOMPARE(r.rows.at(0).at(0).toString(), QStringLiteral("1"));
    QCOMPARE(r.rows.at(1).at(0).toString(), QStringLiteral("4"));
    QCOMPARE(r.rows.at(1).at(2).toString(), QStringLiteral("1"));
}

void TestXlsReader::ownShortRowsAreSkippedAndCounted()
{
    // Empty cells inside a row keep their place; a row is short only when
    // its last cells are empty.
    auto model = tableModel(sampleRows());
    model->setItem(1, 4, nullptr); // no wavelength
    model->setItem(2, 2, nullptr); // no value, but a wavelength
    for (int c = 0; c < 5; ++c)
        model->setItem(3, c, nullptr); // wholly blank
    QVERIFY(xls::writeTable(path("gaps.xls"), tableHeaders(), *model));

    const xls::ReadResult r = xls::readRows(path("gaps.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.skippedRows, 1);
    QCOMPARE(r.rows.size(), sampleRows().size() - 2);
    QCOMPARE(r.rows.at(1).size(), 5);
    QVERIFY(!r.rows.at(1).at(2).isValid());
    QCOMPARE(r.rows.at(1).at(4).toString(), sampleRows().at(2).waveLength);
}

void TestXlsReader::badFilesFailToOpen_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // written to file when not null

    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator gen(930);
    for (char &c : noise)
        c = char(gen.bounded(256));
    // Random bytes behind a valid compound-file signature reach deeper.
    QByteArray fakeOle = QByteArray::fromHex("d0cf11e0a1b11ae1") + noise;

    // Names are taken inside the scratch directory unless they name a fixture.
    QTest::newRow("missing file") << QStringLiteral("nothing-here.xls") << QByteArray();
    QTest::newRow("empty file") << QStringLiteral("empty.xls") << QByteArray("");
    QTest::newRow("random bytes") << QStringLiteral("noise.xls") << noise;
    QTest::newRow("random compound file") << QStringLiteral("fake-ole.xls") << fakeOle;
    QTest::newRow("text file") << QStringLiteral("text.xls")
                               << QByteArray("No.,Time,Value,Unit,WaveLength\n");
    QTest::newRow("directory") << QString() << QByteArray();
    QTest::newRow("xlsx renamed") << fixture("xlsx-renamed.xls") << QByteArray();
    QTest::newRow("pdf renamed") << fixture("pdf-renamed.xls") << QByteArray();
    QTest::newRow("encrypted") << fixture("encrypted.xls") << QByteArray();
}

void TestXlsReader::badFilesFailToOpen()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    if (file.isEmpty())
        file = m_dir->path();
    else if (!file.startsWith(QLatin1Char('/')))
        file = path(file);
    if (!content.isNull()) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const xls::ReadResult r = xls::readRows(file);
    QCOMPARE(r.status, xls::ReadStatus::OpenFailed);
    QVERIFY(r.rows.isEmpty());
    QVERIFY(!r.errorMessage.isEmpty());
}

void TestXlsReader::truncatedExportFailsToOpen()
{
    QVector<TableRow> rows;
    for (int i = 0; i < 500; ++i)
        rows.append({i + 1, QStringLiteral("2024-05-01 12:00:00"), QString::number(i),
                     QStringLiteral("uW"), QStringLiteral("1550nm")});
    QVERIFY(xls::writeTable(path("whole.xls"), tableHeaders(), *tableModel(rows)));
    QFile whole(path("whole.xls"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QVERIFY(xls::readRows(path("whole.xls")).status == xls::ReadStatus::Ok);

    for (int size : {100, 512, 1024, int(bytes.size() / 2), int(bytes.size() - 512)}) {
        QFile cut(path("cut.xls"));
        QVERIFY(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cut.write(bytes.left(size));
        cut.close();
        const xls::ReadResult r = xls::readRows(path("cut.xls"));
        QVERIFY2(r.status == xls::ReadStatus::OpenFailed, qPrintable(QString::number(size)));
        QVERIFY(r.rows.isEmpty());
    }
}

// A workbook whose string length runs past its record made FreeXL read far past
// its own buffers; the walk refuses it before FreeXL ever sees it (the
// sanitizer build proves no stray read happens).
void TestXlsReader::damagedStringLengthNeverReachesFreeXL()
{
    const xls::ReadResult r = xls::readRows(fixture("damaged/string-length-past-record.xls"));
    QCOMPARE(r.status, xls::ReadStatus::OpenFailed);
    QVERIFY(r.rows.isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsReader)
#include "tst_xlsreader.moc"
