#include "biffbuilder.h"
#include "dmmdata.h"
#include "importrow.h"
#include "tablesource.h"
#include "xlsreader.h"
#include "xlstesthelpers.h"
#include "xlswriter.h"

#include <QFileInfo>
#include <QRandomGenerator>
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
    void continuedSheetsOnlyBehindAFullSheet();
    void copiedSheetIsReadOnce_data();
    void copiedSheetIsReadOnce();
    void shortRowsAreReadAsFiveCells_data();
    void shortRowsAreReadAsFiveCells();
    void sheetWithoutWaveLengthColumn_data();
    void sheetWithoutWaveLengthColumn();
    void ownShortRowsAreReadAsFiveCells();
    void isoTimeTextsOfOtherWriters_data();
    void isoTimeTextsOfOtherWriters();
    void rowsFarApartAndOutOfOrder();
    void millionRowsStreamInOrder();
    void craftedWideRowsUnderAMemoryLimit_data();
    void craftedWideRowsUnderAMemoryLimit();
    void badFilesFailToOpen_data();
    void badFilesFailToOpen();
    void truncatedExportFailsToOpen();
    void damagedStringLengthNeverReachesFreeXL();
    void nestedSheetsAreRefused();

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

void TestXlsReader::continuedSheetsOnlyBehindAFullSheet()
{
    // Sheet1 (2 rows), "Notes" (another header), Sheet2 (same header, 1 row):
    // Sheet1 is not full, so the table ends with it.
    const xls::ReadResult r = xls::readRows(fixture("libreoffice-sheets.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 2);
    QCOMPARE(r.rows.at(0).at(2).toString(), QStringLiteral("-3.00"));
    QCOMPARE(r.rows.at(1).at(2).toString(), QStringLiteral("501.2"));

    // A full sheet goes on onto the next sheet only under the same header.
    for (const QString &unitTitle : {QStringLiteral("Unit"), QStringLiteral("Remark")}) {
        BiffBuilder b;
        const quint16 general = b.addXf(0);
        for (int s = 0; s < 2; ++s) {
            b.addSheet(QStringLiteral("Sheet%1").arg(s + 1));
            for (int c = 0; c < 5; ++c)
                b.label(0, c, general, s == 1 && c == 3 ? unitTitle : tableHeaders().at(c));
            const int rows = s == 0 ? 65535 : 3;
            for (int r = 1; r <= rows; ++r)
                b.rk(r, 0, general, s * 65535 + r);
        }
        QVERIFY(b.write(path("full.xls")));
        const xls::ReadResult full = xls::readRows(path("full.xls"));
        QCOMPARE(full.status, xls::ReadStatus::Ok);
        const bool same = unitTitle == QLatin1String("Unit");
        QCOMPARE(full.rows.size(), same ? 65535 + 3 : 65535);
        QCOMPARE(full.rows.last().at(0).toString(), QString::number(full.rows.size()));
    }
}

void TestXlsReader::copiedSheetIsReadOnce_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("LibreOffice") << QStringLiteral("libreoffice-copied-sheet.xls");
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric-copied-sheet.xls");
}

void TestXlsReader::copiedSheetIsReadOnce()
{
    // Sheet1_2 is a copy of Sheet1 (three readings): read once, not twice.
    QFETCH(QString, file);
    const xls::ReadResult r = xls::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(r.rows.at(i).at(0).toString(), QString::number(i + 1));
}

void TestXlsReader::shortRowsAreReadAsFiveCells_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("LibreOffice") << QStringLiteral("libreoffice-short-rows.xls");
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric-short-rows.xls");
}

void TestXlsReader::shortRowsAreReadAsFiveCells()
{
    // Rows: full, no wavelength, blank, value without unit and wavelength,
    // full. The blank row is no row; the short ones become readings.
    QFETCH(QString, file);
    const xls::ReadResult r = xls::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 4);
    for (const QVariantList &row : r.rows)
        QCOMPARE(row.size(), 5);
    QVERIFY(!r.rows.at(1).at(4).isValid());
    QCOMPARE(r.rows.at(1).at(3).toString(), QStringLiteral("uW"));
    QVERIFY(!r.rows.at(2).at(3).isValid());
    QVERIFY(!r.rows.at(2).at(4).isValid());
    QCOMPARE(r.rows.at(3).at(0).toString(), QStringLiteral("4"));

    std::unique_ptr<DmmData> noWave(readingFromRow(r.rows.at(1)));
    QCOMPARE(noWave->waveLength(), quint16(0));
    QCOMPARE(noWave->valueText(QStringLiteral("uW")), QStringLiteral("501.2"));
    std::unique_ptr<DmmData> noUnit(readingFromRow(r.rows.at(2)));
    QCOMPARE(noUnit->unit(), QString());
    QCOMPARE(noUnit->dateTime(), QDateTime(QDate(2024, 5, 1), QTime(12, 0, 3)));
}

void TestXlsReader::sheetWithoutWaveLengthColumn_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("LibreOffice") << QStringLiteral("libreoffice-no-wavelength.xls");
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric-no-wavelength.xls");
}

void TestXlsReader::sheetWithoutWaveLengthColumn()
{
    QFETCH(QString, file);
    const xls::ReadResult r = xls::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);
    const QStringList units{"dBm", "uW", "mW"};
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<DmmData> d(readingFromRow(r.rows.at(i)));
        QCOMPARE(d->unit(), units.at(i));
        QCOMPARE(d->waveLength(), quint16(0));
        QCOMPARE(d->dateTime(), QDateTime(QDate(2024, 5, 1), QTime(12, 0, i + 1)));
    }
}

void TestXlsReader::ownShortRowsAreReadAsFiveCells()
{
    // Empty cells inside a row keep their place; a row that lacks its last
    // cells is read all the same, and only a wholly blank row is left out.
    auto model = tableModel(sampleRows());
    model->setItem(1, 4, nullptr); // no wavelength
    model->setItem(2, 2, nullptr); // no value, but a wavelength
    for (int c = 0; c < 5; ++c)
        model->setItem(3, c, nullptr); // wholly blank
    QVERIFY(xls::writeTable(path("gaps.xls"), tableHeaders(), *model));

    const xls::ReadResult r = xls::readRows(path("gaps.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), sampleRows().size() - 1);
    QCOMPARE(r.rows.at(1).size(), 5);
    QVERIFY(!r.rows.at(1).at(4).isValid());
    QCOMPARE(r.rows.at(1).at(3).toString(), sampleRows().at(1).unit);
    QVERIFY(!r.rows.at(2).at(2).isValid());
    QCOMPARE(r.rows.at(2).at(4).toString(), sampleRows().at(2).waveLength);
    QCOMPARE(r.rows.at(3).at(0).toString(), QString::number(sampleRows().at(4).no));
}

void TestXlsReader::isoTimeTextsOfOtherWriters_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("LibreOffice") << QStringLiteral("libreoffice-iso-times.xls");
    QTest::newRow("Gnumeric") << QStringLiteral("gnumeric-iso-times.xls");
}

void TestXlsReader::isoTimeTextsOfOtherWriters()
{
    // Times kept as ISO 8601 texts with a "T": plain, with milliseconds,
    // in UTC, with an offset, with a fraction and a negative offset.
    QFETCH(QString, file);
    const xls::ReadResult r = xls::readRows(fixture(file));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 5);
    const QDate day(2024, 5, 1);
    const QVector<QDateTime> expected{
        QDateTime(day, QTime(12, 34, 56)),
        QDateTime(day, QTime(12, 34, 56, 789)),
        QDateTime(day, QTime(12, 34, 56), Qt::UTC),
        QDateTime(day, QTime(12, 34, 56), Qt::OffsetFromUTC, 2 * 3600),
        QDateTime(day, QTime(23, 59, 59, 500), Qt::OffsetFromUTC, -(5 * 3600 + 1800)),
    };
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(r.rows.at(i).at(1).userType(), int(QMetaType::QString));
        std::unique_ptr<DmmData> d(readingFromRow(r.rows.at(i)));
        QVERIFY2(d->dateTime().isValid(), qPrintable(r.rows.at(i).at(1).toString()));
        QCOMPARE(d->dateTime(), expected.at(i));
        QCOMPARE(d->dateTime().offsetFromUtc(), expected.at(i).offsetFromUtc());
    }
}

// Writers may leave rows out and put cells in any order; the later of two
// cells at one place counts.
void TestXlsReader::rowsFarApartAndOutOfOrder()
{
    BiffBuilder b;
    const quint16 general = b.addXf(0);
    b.addSheet(QStringLiteral("Sheet1"));
    b.label(0, 0, general, QStringLiteral("No."));
    b.rk(40000, 0, general, 3);
    b.rk(3, 0, general, 1);
    b.rk(5000, 0, general, 9);
    b.label(5000, 4, general, QStringLiteral("1550nm"));
    b.rk(5000, 0, general, 2);
    QVERIFY(b.write(path("apart.xls")));
    const xls::ReadResult r = xls::readRows(path("apart.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(r.rows.at(i).at(0).toString(), QString::number(i + 1));
    QCOMPARE(r.rows.at(1).at(4).toString(), QStringLiteral("1550nm"));
}

// A million readings (16 sheets) come out whole and in order, row by row.
void TestXlsReader::millionRowsStreamInOrder()
{
    class Counting : public TableSource
    {
    public:
        int rowCount() const override { return 1000000; }
        void row(int r, RowCells &out) const override
        {
            out.cells[0].setNumber(r + 1);
            out.cells[1].setTime(wallClockMsecs(QDate(2024, 1, 1), QTime(0, 0)) + qint64(r) * 1000,
                                 true);
            out.cells[2].setText(QString::number(r % 1000));
            out.cells[3].setText(QStringLiteral("dBm"));
            out.cells[4].setText(QStringLiteral("1550nm"));
        }
    };
    QVERIFY(xls::writeTable(path("million.xls"), tableHeaders(), Counting()));
    qint64 next = 1;
    bool inOrder = true;
    const xls::ReadSummary read =
        xls::readTable(path("million.xls"), [&](const QVariantList &cells) {
            inOrder = inOrder && cells.size() == 5 && cells.at(0).toString().toLongLong() == next &&
                      cells.at(2).toString().toInt() == int((next - 1) % 1000);
            ++next;
        });
    QCOMPARE(read.status, xls::ReadStatus::Ok);
    QCOMPARE(read.rows, qint64(1000000));
    QVERIFY(inOrder);
}

void TestXlsReader::craftedWideRowsUnderAMemoryLimit_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("refused");
    // Cells at column 65,535 once made every row 65,536 cells wide (gigabytes
    // from a few kilobytes); such a cell lies beyond the format's 256 columns.
    QTest::newRow("column 65535") << 65535 << true;
    QTest::newRow("column 256") << 256 << true;
    // The last column there is: a correct import of the five columns used.
    QTest::newRow("column 255") << 255 << false;
}

void TestXlsReader::craftedWideRowsUnderAMemoryLimit()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than the limit allows");
#endif
    QFETCH(int, column);
    QFETCH(bool, refused);
    BiffBuilder b;
    const quint16 general = b.addXf(0);
    b.addSheet(QStringLiteral("Sheet1"));
    for (int c = 0; c < 5; ++c)
        b.label(0, c, general, tableHeaders().at(c));
    const int rows = 2000;
    for (int r = 1; r <= rows; ++r) {
        b.rk(r, 0, general, r);
        b.label(r, 3, general, QStringLiteral("dBm"));
        b.rk(r, column, general, r);
    }
    const QString file = path("wide.xls");
    QVERIFY(b.write(file));

    // The child reads the file with its address space limited to what it
    // has plus 256 MB; running out of memory kills it.
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(virtualMemoryBytes() + (256 << 20));
        setrlimit(RLIMIT_AS, &limit);
        const xls::ReadResult r = xls::readRows(file);
        bool good = false;
        if (refused)
            good = r.status == xls::ReadStatus::OpenFailed && r.rows.isEmpty();
        else
            good = r.status == xls::ReadStatus::Ok && r.rows.size() == rows &&
                   r.rows.last().at(0).toString() == QString::number(rows) &&
                   r.rows.last().at(3).toString() == QLatin1String("dBm");
        _exit(good ? 0 : 3);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the reader died");
    QCOMPARE(WEXITSTATUS(status), 0);
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

// Sheet entries that start one inside another's records and all end in one
// shared block of 65,535 rows once made a 1 MB file hand out those rows for
// every sheet (20 sheets: 1.3 million readings). The reader walks each stretch
// of the stream for one sheet only.
void TestXlsReader::nestedSheetsAreRefused()
{
    constexpr int sheets = 20;
    BiffBuilder b;
    for (int s = 0; s < sheets; ++s)
        b.addSheet(QStringLiteral("Sheet%1").arg(s + 1));
    const QByteArray built = b.stream();
    // The globals as built, and where each sheet entry keeps its position.
    QVector<int> entries;
    int at = 0;
    for (quint16 id = 0; id != 0x000A;) {
        id = qFromLittleEndian<quint16>(built.constData() + at);
        if (id == 0x0085)
            entries.append(at + 4);
        at += 4 + qFromLittleEndian<quint16>(built.constData() + at + 2);
    }
    QByteArray stream = built.left(at);
    const int first = stream.size();
    // Each sheet's BOF, then a record of no interest holding the next sheet's BOF.
    const QByteArray bof = BiffBuilder::record(
        0x0809, BiffBuilder::u16(0x0600) + BiffBuilder::u16(0x0010) + QByteArray(12, '\0'));
    QByteArray nested = bof;
    for (int s = 1; s < sheets; ++s)
        nested = bof + BiffBuilder::record(0x0099, nested);
    stream += nested;
    stream += BiffBuilder::record(0x0204, QByteArray(6, '\0') + BiffBuilder::unicodeString("No."));
    for (int r = 1; r <= 65535; ++r)
        stream += BiffBuilder::record(0x027E, BiffBuilder::u16(quint16(r)) + QByteArray(4, '\0') +
                                                  BiffBuilder::u32(quint32(r) << 2 | 2));
    stream += BiffBuilder::record(0x000A, QByteArray());

    // Listed outermost first, and innermost first.
    for (const bool innermostFirst : {false, true}) {
        for (int s = 0; s < sheets; ++s) {
            const int nesting = innermostFirst ? sheets - 1 - s : s;
            qToLittleEndian(quint32(first + nesting * (bof.size() + 4)),
                            reinterpret_cast<uchar *>(stream.data() + entries[s]));
        }
        QVERIFY(BiffBuilder::writeCompoundFile(path("nested.xls"), stream));
        QVERIFY(QFileInfo(path("nested.xls")).size() < 1100000);
        const xls::ReadSummary read =
            xls::readTable(path("nested.xls"), [](const QVariantList &) {});
        QCOMPARE(read.status, xls::ReadStatus::ReadFailed);
        QCOMPARE(read.rows, qint64(65535));
        QVERIFY2(read.errorMessage.contains(innermostFirst ? "runs into" : "starts inside"),
                 qPrintable(read.errorMessage));
    }
}

QTEST_GUILESS_MAIN(TestXlsReader)
#include "tst_xlsreader.moc"
