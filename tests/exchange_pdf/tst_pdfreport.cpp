#include "pdfreport.h"
#include "tablesource.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

QList<ReportColumn> reportColumns()
{
    return {{QStringLiteral("No."), QRect(), 2},
            {QStringLiteral("Time"), QRect(), 3},
            {QStringLiteral("Value"), QRect(), 3},
            {QStringLiteral("Unit"), QRect(), 2},
            {QStringLiteral("WaveLength"), QRect(), 2}};
}

struct A4Metrics
{
    int width = 0;
    int height = 0;
    int rowHeight = 0;
    int resolution = 0;
    QRectF paintRectPoints; // where device (0, 0) lies on the page, in points
};

// What the report's writer sees: an A4 PDF page at the writer's default
// resolution and the row height from a fresh painter's default font.
A4Metrics measureA4()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    A4Metrics metrics;
    metrics.width = writer.width();
    metrics.height = writer.height();
    metrics.rowHeight = 2 * painter.fontMetrics().height();
    metrics.resolution = writer.resolution();
    metrics.paintRectPoints = writer.pageLayout().paintRect(QPageLayout::Point);
    painter.end();
    return metrics;
}

int a4RowsPerPage()
{
    const A4Metrics a4 = measureA4();
    return (a4.height - 5 * a4.rowHeight) / a4.rowHeight;
}

// The reading table's display values: record number, time text, value text,
// unit and wavelength.
std::unique_ptr<QStandardItemModel> readingTable(int count, bool stored = false)
{
    auto model = std::make_unique<QStandardItemModel>(0, 5);
    const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 0));
    for (int i = 0; i < count; ++i) {
        QList<QStandardItem *> row;
        for (int c = 0; c < 5; ++c)
            row.append(new QStandardItem);
        const QDateTime when = start.addSecs(stored ? 60 * i : i);
        row[0]->setData(stored ? 500 + i : i + 1, Qt::DisplayRole);
        row[1]->setData(when.toString(stored ? QStringLiteral("yyyy-MM-dd hh:mm")
                                             : QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                        Qt::DisplayRole);
        row[2]->setData(QStringLiteral("-3.%1").arg(100 + i), Qt::DisplayRole);
        row[3]->setData(QStringLiteral("dBm"), Qt::DisplayRole);
        row[4]->setData(QStringLiteral("%1nm").arg(1550), Qt::DisplayRole);
        model->appendRow(row);
    }
    return model;
}

QString runTool(const QString &tool, const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return QString();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pdfPageCount(const QString &file)
{
    const QString info = runTool(QStringLiteral("pdfinfo"), {file});
    const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)"),
                                   QRegularExpression::MultilineOption);
    const auto match = pages.match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString pageText(const QString &file, int page)
{
    return runTool(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                    QStringLiteral("-l"), QString::number(page), file, QStringLiteral("-")});
}

QStringList nonEmptyLines(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString simple = line.simplified();
        if (!simple.isEmpty())
            lines.append(simple);
    }
    return lines;
}

// Lines of a page that show a reading: they end in the wavelength cell.
QStringList readingLines(const QString &text)
{
    QStringList rows;
    for (const QString &line : nonEmptyLines(text))
        if (line.endsWith(QStringLiteral("nm")))
            rows.append(line);
    return rows;
}

struct Word
{
    QRectF box; // in points, y downwards
    QString text;
};

QVector<Word> pageWords(const QString &file, int page)
{
    const QString html =
        runTool(QStringLiteral("pdftotext"),
                {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
                 QStringLiteral("-l"), QString::number(page), file, QStringLiteral("-")});
    const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QVector<Word> words;
    auto it = word.globalMatch(html);
    while (it.hasNext()) {
        const auto m = it.next();
        words.append({QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                             QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())),
                      m.captured(5)});
    }
    return words;
}

} // namespace

class TestPdfReport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void columnWidths();
    void pageCounts_data();
    void pageCounts();
    void noRoomForARowFallsBack_data();
    void noRoomForARowFallsBack();
    void unusableColumnsStaySafe();
    void cellTexts_data();
    void cellTexts();

    void reportOf65Readings();
    void lastPageGeometry();
    void exactlyOnePageOfReadings();
    void storedReadingsShowRecordNumberAndMinute();
    void rowSourcePrintsWhatTheTablePrints();
    void emptyTableGivesOneLabelledPage();
    void unwritablePathFailsAndLeavesNothing_data();
    void unwritablePathFailsAndLeavesNothing();
    void cancelLeavesNoFile_data();
    void cancelLeavesNoFile();
    void progressCountsRows();

private:
    QTemporaryDir m_dir;
};

void TestPdfReport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty(),
             "pdfinfo (poppler-utils) is needed to read the reports back");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
             "pdftotext (poppler-utils) is needed to read the reports back");
    QVERIFY(a4RowsPerPage() >= 1);
}

void TestPdfReport::columnWidths()
{
    const A4Metrics a4 = measureA4();
    const pdf::Layout layout =
        pdf::computeLayout(a4.width, a4.height, a4.rowHeight, 65, reportColumns(), 5);

    QCOMPARE(layout.margin, a4.width / 20);
    QCOMPARE(layout.right, a4.width - a4.width / 20);
    QCOMPARE(layout.contentWidth, a4.width - 2 * (a4.width / 20));
    QCOMPARE(layout.rowHeight, a4.rowHeight);
    QCOMPARE(layout.colW.size(), 5);
    QCOMPARE(layout.colX.size(), 5);

    const int weights[] = {2, 3, 3, 2, 2};
    int x = layout.margin;
    for (int c = 0; c < 5; ++c) {
        // weight/12 of the content width, truncated.
        QCOMPARE(layout.colW.at(c), weights[c] * layout.contentWidth / 12);
        QCOMPARE(layout.colX.at(c), x);
        x += layout.colW.at(c);
    }
    // Truncation may leave the last column a few units short of R, never past it.
    QVERIFY(x <= layout.right);
    QVERIFY(layout.right - x < 5);
}

void TestPdfReport::pageCounts_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("rowsPerPage");
    QTest::addColumn<int>("tablePages");

    QTest::newRow("65 at 30") << 65 << 30 << 3;
    QTest::newRow("exactly 30") << 30 << 30 << 1;
    QTest::newRow("31 at 30") << 31 << 30 << 2;
    QTest::newRow("one") << 1 << 30 << 1;
    QTest::newRow("none") << 0 << 30 << 0;
    QTest::newRow("65535 at 24") << 65535 << 24 << 2731;
}

void TestPdfReport::pageCounts()
{
    QFETCH(int, rows);
    QFETCH(int, rowsPerPage);
    QFETCH(int, tablePages);

    const int h = 100;
    // (H - 5h) / h = rowsPerPage, with a little slack that must not add a row.
    const int pageHeight = (rowsPerPage + 5) * h + h / 2;
    const pdf::Layout layout = pdf::computeLayout(2000, pageHeight, h, rows, reportColumns(), 5);
    QCOMPARE(layout.rowsPerPage, rowsPerPage);
    QCOMPARE(layout.tablePages, tablePages);
}

void TestPdfReport::noRoomForARowFallsBack_data()
{
    QTest::addColumn<int>("pageHeight");
    QTest::addColumn<int>("rowHeight");
    QTest::addColumn<int>("rowsPerPage");

    QTest::newRow("room for none") << 500 << 100 << 1;
    QTest::newRow("less than the bands") << 300 << 100 << 1;
    QTest::newRow("no height at all") << 0 << 100 << 1;
    // A zero row height is taken as one unit rather than dividing by zero.
    QTest::newRow("zero row height") << 1000 << 0 << 995;
}

void TestPdfReport::noRoomForARowFallsBack()
{
    QFETCH(int, pageHeight);
    QFETCH(int, rowHeight);
    QFETCH(int, rowsPerPage);

    const pdf::Layout layout =
        pdf::computeLayout(1000, pageHeight, rowHeight, 7, reportColumns(), 5);
    QVERIFY(layout.rowHeight >= 1);
    QCOMPARE(layout.rowsPerPage, rowsPerPage);
    QCOMPARE(layout.tablePages, (7 + rowsPerPage - 1) / rowsPerPage);
}

void TestPdfReport::unusableColumnsStaySafe()
{
    // Fewer column records than table columns: only the described ones print.
    const pdf::Layout fewer = pdf::computeLayout(2000, 3000, 100, 3, reportColumns().mid(0, 3), 5);
    QCOMPARE(fewer.colW.size(), 3);

    // Weights summing to zero share the width equally instead of dividing by zero.
    QList<ReportColumn> zero = reportColumns();
    for (ReportColumn &column : zero)
        column.weight = 0;
    const pdf::Layout equal = pdf::computeLayout(2000, 3000, 100, 3, zero, 5);
    QCOMPARE(equal.colW.size(), 5);
    for (int w : equal.colW)
        QCOMPARE(w, equal.contentWidth / 5);

    const pdf::Layout none = pdf::computeLayout(2000, 3000, 100, 3, {}, 5);
    QVERIFY(none.colW.isEmpty());
}

void TestPdfReport::cellTexts_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("int") << QVariant(42) << QStringLiteral("42");
    QTest::newRow("negative int") << QVariant(-7) << QStringLiteral("-7");
    QTest::newRow("long long") << QVariant(qlonglong(65535)) << QStringLiteral("65535");
    QTest::newRow("text") << QVariant(QStringLiteral(" -3.25 dBm")) << QStringLiteral(" -3.25 dBm");
    QTest::newRow("date-time") << QVariant(QDateTime(QDate(2023, 1, 2), QTime(3, 4, 5)))
                               << QStringLiteral("2023-01-02 03:04:05");
    QTest::newRow("double") << QVariant(1.5) << QStringLiteral("1.5");
    QTest::newRow("invalid") << QVariant() << QString();
}

void TestPdfReport::cellTexts()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(pdf::cellText(value), text);
}

void TestPdfReport::reportOf65Readings()
{
    const int rowsPerPage = a4RowsPerPage();
    const int count = 65;
    const int tablePages = (count + rowsPerPage - 1) / rowsPerPage;
    const int pages = tablePages + 1;
    const auto model = readingTable(count);
    const QString file = m_dir.filePath(QStringLiteral("report65.pdf"));

    QString error;
    QVERIFY2(pdf::writeReport(file, *model, reportColumns(), {}, &error), qPrintable(error));
    QCOMPARE(pdfPageCount(file), pages);

    // The first page carries nothing but its label.
    QCOMPARE(nonEmptyLines(pageText(file, 1)), QStringList{QStringLiteral("1/%1").arg(pages)});

    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    int nextRecord = 1;
    for (int page = 2; page <= pages; ++page) {
        const QString text = pageText(file, page);
        const QStringList lines = nonEmptyLines(text);
        QVERIFY2(lines.size() >= 3, qPrintable(text));
        QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QCOMPARE(lines.at(1), QStringLiteral("No. Time Value Unit WaveLength"));
        QCOMPARE(lines.last(), QStringLiteral("%1/%2").arg(page).arg(pages));

        const QStringList rows = readingLines(text);
        const int expected = std::min(rowsPerPage, count - (nextRecord - 1));
        QCOMPARE(rows.size(), expected);
        for (const QString &row : rows) {
            const int i = nextRecord - 1;
            const QString time = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 0))
                                     .addSecs(i)
                                     .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            QCOMPARE(
                row,
                QStringLiteral("%1 %2 -3.%3 dBm 1550nm").arg(nextRecord).arg(time).arg(100 + i));
            ++nextRecord;
        }
    }
    QCOMPARE(nextRecord - 1, count);
}

void TestPdfReport::lastPageGeometry()
{
    const A4Metrics a4 = measureA4();
    const int count = 65;
    const pdf::Layout layout =
        pdf::computeLayout(a4.width, a4.height, a4.rowHeight, count, reportColumns(), 5);
    const int rowsPerPage = layout.rowsPerPage;
    const int pages = layout.tablePages + 1;
    const int firstRow = (layout.tablePages - 1) * rowsPerPage;
    const int k = count - firstRow;
    const int h = layout.rowHeight;
    const QString file = m_dir.filePath(QStringLiteral("geometry.pdf"));
    QVERIFY(pdf::writeReport(file, *readingTable(count), reportColumns()));

    // Device units to page points.
    const double unit = 72.0 / a4.resolution;
    auto ptX = [&](double x) { return a4.paintRectPoints.left() + x * unit; };
    auto ptY = [&](double y) { return a4.paintRectPoints.top() + y * unit; };
    const double slack = 1.0;

    const QVector<Word> words = pageWords(file, pages);
    QVERIFY(!words.isEmpty());
    auto find = [&](const QString &text) {
        for (const Word &w : words)
            if (w.text == text)
                return w;
        return Word();
    };

    // Page label: ends at R and stands on the bottom of its band.
    const Word label = find(QStringLiteral("%1/%1").arg(pages));
    QVERIFY(!label.text.isEmpty());
    QVERIFY(qAbs(label.box.right() - ptX(layout.right)) < slack);
    QVERIFY(label.box.bottom() <= ptY((rowsPerPage + 5) * h) + slack);
    QVERIFY(label.box.top() >= ptY((rowsPerPage + 4) * h) - slack);

    // Time stamp (date, then clock): ends at R, inside the top band. Looked up
    // by its form, as PDF writers differ in the order they put words on a page.
    auto findMatching = [&](const QRegularExpression &pattern) {
        for (const Word &w : words)
            if (pattern.match(w.text).hasMatch())
                return w;
        return Word();
    };
    const Word stampDate =
        findMatching(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d$")));
    const Word stampClock =
        findMatching(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")));
    QVERIFY(!stampDate.text.isEmpty() && !stampClock.text.isEmpty());
    QVERIFY(stampDate.box.right() < stampClock.box.left());
    QVERIFY(qAbs(stampClock.box.right() - ptX(layout.right)) < slack);
    QVERIFY(stampDate.box.bottom() <= ptY(3 * h) + slack);
    QVERIFY(stampClock.box.bottom() <= ptY(3 * h) + slack);

    // Header titles centred in their columns, between 3h and 4h.
    const QList<ReportColumn> columns = reportColumns();
    for (int c = 0; c < columns.size(); ++c) {
        const Word title = find(columns.at(c).title);
        QVERIFY2(!title.text.isEmpty(), qPrintable(columns.at(c).title));
        const double centre = ptX(layout.colX.at(c) + layout.colW.at(c) / 2.0);
        QVERIFY(qAbs(title.box.center().x() - centre) < slack);
        QVERIFY(title.box.top() >= ptY(3 * h) - slack);
        QVERIFY(title.box.bottom() <= ptY(4 * h) + slack);
    }

    // Each record number sits in its own row band of the first column.
    for (int i = 0; i < k; ++i) {
        const Word number = find(QString::number(firstRow + i + 1));
        QVERIFY2(!number.text.isEmpty(), qPrintable(QString::number(firstRow + i + 1)));
        QVERIFY(qAbs(number.box.center().x() - ptX(layout.colX.at(0) + layout.colW.at(0) / 2.0)) <
                slack);
        QVERIFY(number.box.top() >= ptY((4 + i) * h) - slack);
        QVERIFY(number.box.bottom() <= ptY((5 + i) * h) + slack);
    }

    // The rules, seen on a rendering of the page.
    const int dpi = 150;
    const QString prefix = m_dir.filePath(QStringLiteral("geometry-last"));
    runTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
             QString::number(pages), QStringLiteral("-l"), QString::number(pages),
             QStringLiteral("-singlefile"), QStringLiteral("-png"), file, prefix});
    const QImage image(prefix + QStringLiteral(".png"));
    QVERIFY(!image.isNull());
    const double px = dpi / 72.0;
    auto inkAt = [&](double devX, double devY) {
        const int x = qRound(ptX(devX) * px);
        const int y = qRound(ptY(devY) * px);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (qGray(image.pixel(x + dx, y + dy)) < 128)
                    return true;
        return false;
    };
    const double inColumn0 = layout.margin + h / 4.0; // left of the centred numbers
    for (int band = 3; band < k + 4; ++band) {
        const double middle = band * h + h / 2.0;
        for (int c = 0; c < 5; ++c)
            QVERIFY2(inkAt(layout.colX.at(c), middle), qPrintable(QString::number(band)));
        QVERIFY2(inkAt(layout.right, middle), qPrintable(QString::number(band)));
        QVERIFY(inkAt(inColumn0, band * h));
    }
    QVERIFY(inkAt(inColumn0, (k + 4) * h));
    // Nothing is drawn below the last row of the last page.
    if (k + 2 <= rowsPerPage) {
        QVERIFY(!inkAt(layout.right, (k + 4) * h + h / 2.0));
        QVERIFY(!inkAt(layout.colX.at(0), (k + 4) * h + h / 2.0));
        QVERIFY(!inkAt(inColumn0, (k + 5) * h));
    }
}

void TestPdfReport::exactlyOnePageOfReadings()
{
    const int rowsPerPage = a4RowsPerPage();
    const auto model = readingTable(rowsPerPage);
    const QString file = m_dir.filePath(QStringLiteral("onepage.pdf"));

    QVERIFY(pdf::writeReport(file, *model, reportColumns()));
    QCOMPARE(pdfPageCount(file), 2);
    QCOMPARE(nonEmptyLines(pageText(file, 1)), QStringList{QStringLiteral("1/2")});
    const QString second = pageText(file, 2);
    QCOMPARE(nonEmptyLines(second).last(), QStringLiteral("2/2"));
    QCOMPARE(readingLines(second).size(), rowsPerPage);
}

void TestPdfReport::storedReadingsShowRecordNumberAndMinute()
{
    const auto model = readingTable(3, true);
    const QString file = m_dir.filePath(QStringLiteral("stored.pdf"));

    QVERIFY(pdf::writeReport(file, *model, reportColumns()));
    const QStringList rows = readingLines(pageText(file, 2));
    QCOMPARE(rows, (QStringList{QStringLiteral("500 2024-03-05 14:07 -3.100 dBm 1550nm"),
                                QStringLiteral("501 2024-03-05 14:08 -3.101 dBm 1550nm"),
                                QStringLiteral("502 2024-03-05 14:09 -3.102 dBm 1550nm")}));
}

// A row source (here over the same table) prints the same lines: times with
// seconds or minutes as the table shows them.
void TestPdfReport::rowSourcePrintsWhatTheTablePrints()
{
    for (bool stored : {false, true}) {
        const auto model = readingTable(40, stored);
        const QString fromModel = m_dir.filePath(QStringLiteral("model.pdf"));
        const QString fromSource = m_dir.filePath(QStringLiteral("source.pdf"));
        QVERIFY(pdf::writeReport(fromModel, *model, reportColumns()));
        QVERIFY(pdf::writeReport(fromSource, ModelTableSource(*model), reportColumns()));
        QCOMPARE(pdfPageCount(fromSource), pdfPageCount(fromModel));
        for (int page = 2; page <= pdfPageCount(fromModel); ++page)
            QCOMPARE(readingLines(pageText(fromSource, page)),
                     readingLines(pageText(fromModel, page)));
    }
}

void TestPdfReport::emptyTableGivesOneLabelledPage()
{
    const auto model = readingTable(0);
    const QString file = m_dir.filePath(QStringLiteral("empty.pdf"));

    QVERIFY(pdf::writeReport(file, *model, reportColumns()));
    QCOMPARE(pdfPageCount(file), 1);
    QCOMPARE(nonEmptyLines(pageText(file, 1)), QStringList{QStringLiteral("1/1")});
}

void TestPdfReport::unwritablePathFailsAndLeavesNothing_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no/such/folder/r.pdf"));
    QTest::newRow("folder itself") << m_dir.path();
    QTest::newRow("empty name") << QString();

    QFile plain(m_dir.filePath(QStringLiteral("plain.txt")));
    plain.open(QIODevice::WriteOnly);
    plain.write("x");
    plain.close();
    QTest::newRow("under a file") << m_dir.filePath(QStringLiteral("plain.txt/r.pdf"));
}

void TestPdfReport::unwritablePathFailsAndLeavesNothing()
{
    QFETCH(QString, path);
    const auto model = readingTable(65);

    QString error;
    QVERIFY(!pdf::writeReport(path, *model, reportColumns(), {}, &error));
    QVERIFY(!error.isEmpty());
    if (!path.isEmpty())
        QVERIFY(!QFileInfo(path).isFile());
}

void TestPdfReport::cancelLeavesNoFile_data()
{
    QTest::addColumn<int>("answersBeforeCancel");
    QTest::addColumn<bool>("existingFile");

    QTest::newRow("at once") << 0 << false;
    QTest::newRow("after a page") << 1 << false;
    QTest::newRow("keeps an older file") << 1 << true;
}

void TestPdfReport::cancelLeavesNoFile()
{
    QFETCH(int, answersBeforeCancel);
    QFETCH(bool, existingFile);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("cancelled.pdf"));
    if (existingFile) {
        QFile older(file);
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("older report");
    }
    const auto model = readingTable(65);
    int answers = 0;
    auto progress = [&](int, int) { return answers++ < answersBeforeCancel; };

    QString error;
    QVERIFY(!pdf::writeReport(file, *model, reportColumns(), progress, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(answers, answersBeforeCancel + 1);
    // No temporary left behind either.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files);
    if (existingFile) {
        QCOMPARE(left, QStringList{QStringLiteral("cancelled.pdf")});
        QFile older(file);
        QVERIFY(older.open(QIODevice::ReadOnly));
        QCOMPARE(older.readAll(), QByteArray("older report"));
    } else {
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
    }
}

void TestPdfReport::progressCountsRows()
{
    const int rowsPerPage = a4RowsPerPage();
    const int count = 2 * rowsPerPage + 1;
    const auto model = readingTable(count);
    QVector<int> done;
    auto progress = [&](int d, int total) {
        if (total != count)
            return false;
        done.append(d);
        return true;
    };

    QVERIFY(pdf::writeReport(m_dir.filePath(QStringLiteral("progress.pdf")), *model,
                             reportColumns(), progress));
    QCOMPARE(done, (QVector<int>{0, rowsPerPage, 2 * rowsPerPage, count}));
}

QTEST_MAIN(TestPdfReport)
#include "tst_pdfreport.moc"
