#include "biffbuilder.h"
#include "biffworkbook.h"
#include "xlsreader.h"
#include "xlstesthelpers.h"
#include "xlswriter.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>

// The record walk that reads the cells: the same rows as FreeXL gives for
// every file both read, date cells by their number formats, cell kinds
// FreeXL leaves out, the fall back to FreeXL, and damaged streams.
class TestBiffWorkbook : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void sameRowsAsFreeXL_data();
    void sameRowsAsFreeXL();
    void dateFormats_data();
    void dateFormats();
    void serialDays_data();
    void serialDays();
    void dateCellsByFormat();
    void formulaResultsAndOtherCells();
    void olderWorkbooksReadLikeFreeXL();
    void damagedStreamsAreRejectedSafely();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    static QJsonArray xlrdRows(const QString &file)
    {
        return xlrdDump(file).value("sheets").toArray().at(0).toObject().value("rows").toArray();
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBiffWorkbook::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestBiffWorkbook::sameRowsAsFreeXL_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"libreoffice-typed.xls", "libreoffice-plain.xls",
                             "libreoffice-sheets.xls", "gnumeric.xls", "gnumeric-short-rows.xls"})
        QTest::newRow(name) << QStringLiteral(XLS_FIXTURE_DIR "/") + QLatin1String(name);
    QTest::newRow("own export") << QStringLiteral("sample");
    QTest::newRow("own export, two sheets") << QStringLiteral("long");
    QTest::newRow("own export, split strings") << QStringLiteral("strings");
}

void TestBiffWorkbook::sameRowsAsFreeXL()
{
    QFETCH(QString, file);
    if (!file.startsWith(QLatin1Char('/'))) {
        QVector<TableRow> rows = sampleRows();
        if (file == QLatin1String("long")) {
            for (int i = 0; i < 70000; ++i)
                rows.append({i, QStringLiteral("2024-05-01 12:00:00"), QString::number(i % 977),
                             QStringLiteral("dBm"), QStringLiteral("1550nm")});
        } else if (file == QLatin1String("strings")) {
            // Texts longer than one record, Latin-1 and wide.
            rows[0].value = QString(5000, QLatin1Char('a'));
            rows[1].value = QString(3000, QChar(0x3bb));
            for (int i = 0; i < 2000; ++i)
                rows.append({i, QStringLiteral("2024-05-01 12:00:00"),
                             QStringLiteral("v%1").arg(i) + QString(i % 50, QChar(0xe9)),
                             QStringLiteral("uW"), QStringLiteral("%1nm").arg(i)});
        }
        const QString out = path(file + QStringLiteral(".xls"));
        QVERIFY(xls::writeTable(out, tableHeaders(), *tableModel(rows)));
        file = out;
    }
    const xls::ReadResult native = xls::readRowsNative(file);
    const xls::ReadResult freexl = xls::readRowsWithFreeXL(file);
    // The walk must really read these files, not hand them to FreeXL.
    QVERIFY2(native.status == xls::ReadStatus::Ok, qPrintable(native.errorMessage));
    QCOMPARE(freexl.status, xls::ReadStatus::Ok);
    QVERIFY(!native.rows.isEmpty());
    QCOMPARE(native.rows.size(), freexl.rows.size());
    for (int i = 0; i < native.rows.size(); ++i) {
        QCOMPARE(native.rows.at(i).size(), 5);
        for (int c = 0; c < 5; ++c) {
            const QVariant ours = native.rows.at(i).at(c);
            const QVariant theirs = freexl.rows.at(i).at(c);
            // FreeXL cuts a date-time cell down to what its format shows
            // (Gnumeric gives times a date-only format); the day must agree.
            if (ours.userType() == QMetaType::QDateTime &&
                theirs.userType() == QMetaType::QDateTime &&
                theirs.toDateTime().time() == QTime(0, 0))
                QCOMPARE(ours.toDateTime().date(), theirs.toDateTime().date());
            else
                QCOMPARE(ours, theirs);
        }
    }
    const xls::ReadResult read = xls::readRows(file);
    QCOMPARE(read.rows, native.rows);
}

void TestBiffWorkbook::dateFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("isDate");
    QTest::newRow("our export") << "yyyy-MM-dd hh:mm:ss" << true;
    QTest::newRow("date") << "yyyy-mm-dd" << true;
    QTest::newRow("day month") << "d/m" << true;
    QTest::newRow("time") << "hh:mm" << true;
    QTest::newRow("minutes seconds") << "mm:ss" << true;
    QTest::newRow("elapsed hours") << "[h]:mm" << true;
    QTest::newRow("locale and am/pm") << "[$-409]h:mm AM/PM" << true;
    QTest::newRow("month alone") << "mm" << false;
    QTest::newRow("general") << "General" << false;
    QTest::newRow("number") << "#,##0.00" << false;
    QTest::newRow("text") << "@" << false;
    QTest::newRow("quoted unit") << "0.00\" dBm\"" << false;
    QTest::newRow("quoted days") << "0 \"days\"" << false;
    QTest::newRow("colour") << "[Red]0.00;[White]-0.00" << false;
    QTest::newRow("escaped") << "0.0\\d\\h" << false;
    QTest::newRow("padding") << "0_s" << false;
    QTest::newRow("unclosed quote") << "0\"yd" << false;
    QTest::newRow("unclosed bracket") << "0[hh" << false;
}

void TestBiffWorkbook::dateFormats()
{
    QFETCH(QString, format);
    QFETCH(bool, isDate);
    QCOMPARE(xls::isDateFormat(format), isDate);
}

void TestBiffWorkbook::serialDays_data()
{
    QTest::addColumn<double>("serial");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("first day") << 1.0 << false << QDateTime(QDate(1900, 1, 1), QTime(0, 0));
    QTest::newRow("after the false leap day")
        << 61.0 << false << QDateTime(QDate(1900, 3, 1), QTime(0, 0));
    QTest::newRow("a time alone") << 0.5 << false << QDateTime(QDate(1899, 12, 30), QTime(12, 0));
    QTest::newRow("1904 system") << 1.0 << true << QDateTime(QDate(1904, 1, 2), QTime(0, 0));
    QTest::newRow("2100 is no leap year")
        << 73110.0 << false << QDateTime(QDate(2100, 3, 1), QTime(0, 0));
    QTest::newRow("rounds to the second")
        << 45413.0 + 43200.4 / 86400 << false << QDateTime(QDate(2024, 5, 1), QTime(12, 0));
    QTest::newRow("last second of a day")
        << 45413.0 + 86399.6 / 86400 << false << QDateTime(QDate(2024, 5, 2), QTime(0, 0));
    QTest::newRow("negative") << -1.0 << false << QDateTime();
    QTest::newRow("beyond 9999") << 3e6 << false << QDateTime();
    QTest::newRow("not a number") << std::nan("") << false << QDateTime();
}

void TestBiffWorkbook::serialDays()
{
    QFETCH(double, serial);
    QFETCH(bool, date1904);
    QFETCH(QDateTime, expected);
    QCOMPARE(xls::serialDateTime(serial, date1904), expected);
}

void TestBiffWorkbook::dateCellsByFormat()
{
    // One row per kind of format; column A the serial number in it.
    BiffBuilder b;
    const quint16 general = b.addXf(0);
    const quint16 builtInDate = b.addXf(14);
    const quint16 builtInDateTime = b.addXf(22);
    const quint16 builtInTime = b.addXf(21);
    const quint16 customDateTime = b.addXf(b.addFormat(QStringLiteral("dd.mm.yyyy hh:mm")));
    const quint16 quotedUnit = b.addXf(b.addFormat(QStringLiteral("0.00\" dBm\"")));
    const quint16 elapsed = b.addXf(b.addFormat(QStringLiteral("[h]:mm:ss")));
    b.addSheet(QStringLiteral("Sheet1"));
    const double may1 = 45413; // 2024-05-01
    b.number(0, 0, general, 1);
    b.number(1, 0, builtInDate, may1 + 0.5);                   // date-only format, time kept
    b.number(2, 0, builtInDateTime, may1 + 43201.0 / 86400.0); // 12:00:01
    b.rk(3, 0, builtInDate, 73051);                            // 2100-01-01
    b.number(4, 0, builtInTime, 0.75);                         // a time alone
    b.number(5, 0, customDateTime, may1 + 0.25);
    b.number(6, 0, quotedUnit, -3.5);
    b.number(7, 0, elapsed, 0.5);
    b.number(8, 0, general, may1);
    QVERIFY(b.write(path("dates.xls")));

    // An independent reader sees the same kinds of cell.
    const QJsonArray x = xlrdRows(path("dates.xls"));
    QCOMPARE(x.size(), 9);
    const QStringList kinds{"number", "date",   "date", "date",  "date",
                            "date",   "number", "date", "number"};
    for (int r = 0; r < x.size(); ++r)
        QCOMPARE(x.at(r).toArray().at(0).toArray().at(0).toString(), kinds.at(r));

    const xls::BiffWorkbook book = xls::readBiffWorkbook(xls::workbookStream(path("dates.xls")));
    QVERIFY2(book.ok, qPrintable(book.errorMessage));
    QCOMPARE(book.sheets.size(), 1);
    const QVector<QVariantList> &rows = book.sheets.at(0).rows;
    QCOMPARE(rows.size(), 9);
    const QDate day(2024, 5, 1);
    QCOMPARE(rows.at(0).at(0), QVariant(QStringLiteral("1")));
    QCOMPARE(rows.at(1).at(0), QVariant(QDateTime(day, QTime(12, 0))));
    QCOMPARE(rows.at(2).at(0), QVariant(QDateTime(day, QTime(12, 0, 1))));
    QCOMPARE(rows.at(3).at(0), QVariant(QDateTime(QDate(2100, 1, 1), QTime(0, 0))));
    QCOMPARE(rows.at(4).at(0), QVariant(QDateTime(QDate(1899, 12, 30), QTime(18, 0))));
    QCOMPARE(rows.at(5).at(0), QVariant(QDateTime(day, QTime(6, 0))));
    QCOMPARE(rows.at(6).at(0), QVariant(QStringLiteral("-3.5")));
    QCOMPARE(rows.at(7).at(0), QVariant(QDateTime(QDate(1899, 12, 30), QTime(12, 0))));
    QCOMPARE(rows.at(8).at(0), QVariant(QStringLiteral("45413")));
    // xlrd counts the same days.
    QCOMPARE(x.at(3).toArray().at(0).toArray().at(3).toString(),
             QStringLiteral("2100-01-01 00:00:00"));
    QCOMPARE(x.at(5).toArray().at(0).toArray().at(3).toString(),
             QStringLiteral("2024-05-01 06:00:00"));
}

void TestBiffWorkbook::formulaResultsAndOtherCells()
{
    BiffBuilder b;
    const quint16 general = b.addXf(0);
    const quint16 date = b.addXf(22);
    b.addShared(QStringLiteral("No."));
    b.addShared(QStringLiteral("1550nm"));
    b.addSheet(QStringLiteral("Sheet1"));
    b.labelSst(0, 0, general, 0);
    b.label(0, 1, general, QStringLiteral("Time"));
    b.label(0, 2, general, QString::fromUtf8("Valeur λ"));
    b.label(0, 3, general, QStringLiteral("Unit"));
    b.label(0, 4, general, QStringLiteral("WaveLength"));
    // A table a user computed in a spreadsheet: formulas with cached results.
    b.formulaNumber(1, 0, general, 1);
    b.formulaNumber(1, 1, date, 45413.5);
    b.formulaNumber(1, 2, general, -3.25);
    b.formulaText(1, 3, general, QStringLiteral("dBm"));
    b.labelSst(1, 4, general, 1);
    b.rk(2, 0, general, 2);
    b.label(2, 1, general, QStringLiteral("2024-05-01 12:00:01"));
    b.boolErr(2, 2, general, 1, false);
    b.formulaBool(2, 3, general, false);
    b.formulaError(2, 4, general, 0x07);
    b.boolErr(2, 5, general, 0x2A, true);
    QVERIFY(b.write(path("formulas.xls")));

    const QJsonArray x = xlrdRows(path("formulas.xls"));
    QCOMPARE(x.size(), 3);
    QCOMPARE(x.at(1).toArray().at(3).toArray().at(1).toString(), QStringLiteral("dBm"));
    QCOMPARE(x.at(1).toArray().at(2).toArray().at(1).toDouble(), -3.25);
    QCOMPARE(x.at(2).toArray().at(4).toArray().at(0).toString(), QStringLiteral("error"));

    const xls::ReadResult r = xls::readRows(path("formulas.xls"));
    QCOMPARE(r.status, xls::ReadStatus::Ok);
    QCOMPARE(r.rows.size(), 2);
    const QVariantList first{QStringLiteral("1"), QDateTime(QDate(2024, 5, 1), QTime(12, 0)),
                             QStringLiteral("-3.25"), QStringLiteral("dBm"),
                             QStringLiteral("1550nm")};
    QCOMPARE(r.rows.at(0), first);
    // Column F (the error cell) is no part of the table.
    const QVariantList second{QStringLiteral("2"), QStringLiteral("2024-05-01 12:00:01"),
                              QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("#DIV/0!")};
    QCOMPARE(r.rows.at(1), second);
}

void TestBiffWorkbook::olderWorkbooksReadLikeFreeXL()
{
    // A BIFF5 workbook (Excel 95): 8-bit texts in the workbook's code page.
    BiffBuilder b(5);
    const quint16 general = b.addXf(0);
    const quint16 date = b.addXf(22);
    b.addSheet(QStringLiteral("Sheet1"));
    const QStringList header = tableHeaders();
    for (int c = 0; c < header.size(); ++c)
        b.label(0, c, general, header.at(c));
    for (int r = 1; r <= 3; ++r) {
        b.number(r, 0, general, r);
        b.number(r, 1, date, 45413 + r / 4.0);
        b.label(r, 2, general, QStringLiteral("-3.00"));
        b.label(r, 3, general, QStringLiteral("dBm"));
        b.label(r, 4, general, QStringLiteral("1550nm"));
    }
    QVERIFY(b.write(path("biff5.xls")));
    QCOMPARE(xlrdDump(path("biff5.xls")).value("sheets").toArray().size(), 1);

    const xls::ReadResult r = xls::readRows(path("biff5.xls"));
    QVERIFY2(r.status == xls::ReadStatus::Ok, qPrintable(r.errorMessage));
    QCOMPARE(r.rows, xls::readRowsWithFreeXL(path("biff5.xls")).rows);
    QCOMPARE(r.rows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QVariantList expected{
            QString::number(i + 1), QDateTime(QDate(2024, 5, 1), QTime(6 * (i + 1), 0)),
            QStringLiteral("-3.00"), QStringLiteral("dBm"), QStringLiteral("1550nm")};
        QCOMPARE(r.rows.at(i), expected);
    }
}

void TestBiffWorkbook::damagedStreamsAreRejectedSafely()
{
    // Bytes of a real export changed, record lengths among them: the walk
    // reads or refuses, and never reads outside the stream.
    QVector<TableRow> rows = sampleRows();
    rows[0].value = QString(9000, QLatin1Char('z'));
    QVERIFY(xls::writeTable(path("base.xls"), tableHeaders(), *tableModel(rows)));
    const QByteArray stream = xls::workbookStream(path("base.xls"));
    QVERIFY(!stream.isEmpty());
    const xls::BiffWorkbook whole = xls::readBiffWorkbook(stream);
    QVERIFY(whole.ok);

    QRandomGenerator gen(930);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = stream;
        const int changes = 1 + int(gen.bounded(4));
        for (int i = 0; i < changes; ++i)
            damaged[int(gen.bounded(damaged.size()))] = char(gen.bounded(256));
        if (round % 3 == 0)
            damaged.truncate(int(gen.bounded(damaged.size())));
        const xls::BiffWorkbook book = xls::readBiffWorkbook(damaged);
        if (!book.ok) {
            ++refused;
            QVERIFY(!book.errorMessage.isEmpty());
            QVERIFY(book.sheets.isEmpty());
        }
    }
    // Every truncated stream at least is refused.
    QVERIFY(refused >= 1000);
    for (int size = 0; size < stream.size(); size += 97)
        QVERIFY(!xls::readBiffWorkbook(stream.left(size)).ok);
}

QTEST_GUILESS_MAIN(TestBiffWorkbook)
#include "tst_biffworkbook.moc"
