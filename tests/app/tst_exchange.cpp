// Export and import through the window: the chooser, the three exports and
// the spreadsheet import, with real files read back by real readers.
#include "biffbuilder.h"
#include "biffworkbook.h"
#include "csvwriter.h"
#include "datamodel.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "journaloptions.h"
#include "kv930resources.h"
#include "tablesource.h"
#include "testsupport.h"
#include "tvitemmodel.h"
#include "xlswriter.h"

#include <QAction>
#include <QComboBox>
#include <QImageReader>
#include <QProcess>
#include <QProgressDialog>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

class WindowExchangeTest : public QObject
{
    Q_OBJECT

private:
    QObject *fake = nullptr;
    QTemporaryDir out;

    // Answers the export chooser with one of its radio buttons, or cancels it.
    static std::function<int(QDialog &)> choose(const char *radio)
    {
        return [radio](QDialog &dialog) {
            if (!radio)
                return int(QDialog::Rejected);
            dialog.findChild<QRadioButton *>(QLatin1String(radio))->setChecked(true);
            return int(QDialog::Accepted);
        };
    }
    void record(WindowOnFake &w, int count)
    {
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionStart")->isEnabled());
        w.action("actionStart")->trigger();
        const QStringList units = {"uW", "mW", "dBm"};
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, units[i % 3]),
                                      Q_ARG(double, 250.0 + i), Q_ARG(int, i % 2 ? 1550 : 0),
                                      Q_ARG(QDateTime, QDateTime(QDate(2026, 1, 2), QTime(3, 4))));
        w.action("actionStop")->trigger();
    }
    // A workbook of n readings written by the exporter.
    static void writeReadings(const QString &path, int n)
    {
        class Readings : public TableSource
        {
        public:
            explicit Readings(int n) : m_n(n) {}
            int rowCount() const override { return m_n; }
            void row(int r, RowCells &out) const override
            {
                out.cells[0].setNumber(r + 1);
                out.cells[1].setTime(wallClockMsecs(QDate(2025, 1, 1), QTime(0, 0)) + r * 1000LL,
                                     true);
                out.cells[2].setText(QString::number(-3.0 - r % 100 / 100.0, 'f', 2));
                out.cells[3].setText(QStringLiteral("dBm"));
                out.cells[4].setText(QStringLiteral("1550nm"));
            }

        private:
            int m_n;
        };
        QVERIFY(xls::writeTable(path, {"No.", "Time", "Value", "Unit", "WaveLength"}, Readings(n)));
    }
    static QProgressDialog *visibleProgress(const Widget &w)
    {
        for (QProgressDialog *d : w.findChildren<QProgressDialog *>())
            if (d->isVisible())
                return d;
        return nullptr;
    }
    static QStringList tableCells(const QAbstractItemModel &m)
    {
        QStringList cells;
        for (int r = 0; r < m.rowCount(); ++r)
            for (int c = 1; c < m.columnCount(); ++c) // No. is the position for non-stored rows
                cells << m.index(r, c).data().toString();
        return cells;
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY(fake);
        QVERIFY(out.isValid());
    }
    void init() { resetFake(fake); }

    void cancellingTheChooserRunsNothing()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        w.prompt->onExec = choose(nullptr);
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->asked.size(), 1); // only the chooser
        QVERIFY(!QApplication::overrideCursor());
    }

    void newChooserStartsOnTable()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        QList<bool> tableChecked;
        w.prompt->onExec = [&](QDialog &dialog) {
            tableChecked
                << dialog.findChild<QRadioButton *>(QStringLiteral("rbTable"))->isChecked();
            dialog.findChild<QRadioButton *>(QStringLiteral("rbPdf"))->setChecked(true);
            return int(QDialog::Accepted);
        };
        w.action("actionExport")->trigger(); // PDF, file dialog cancelled
        w.action("actionExport")->trigger();
        QCOMPARE(tableChecked, QList<bool>({true, true}));
        QVERIFY(!QApplication::overrideCursor());
    }

    void chartPictureCancelledWritesNothingAndChosenWritesAJpg()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 30);
        w.prompt->onExec = choose("rbChart");
        w.action("actionExport")->trigger(); // no file name queued: cancelled
        QCOMPARE(w.prompt->asked.last().caption, QStringLiteral("Export the chart to a picture."));
        QCOMPARE(w.prompt->asked.last().filter, QStringLiteral("JPG File(*.jpg)"));
        QCOMPARE(w.prompt->asked.last().dir, QStringLiteral("."));
        QVERIFY(w.prompt->messages().isEmpty());
        QVERIFY(!QApplication::overrideCursor());

        // The chart tab was never shown: the picture must still hold the chart.
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCOMPARE(w.child<QTabWidget>("tabWidget")->currentIndex(), 0);
        const QString jpg = out.filePath(QStringLiteral("chart.jpg"));
        w.prompt->fileNames.enqueue(jpg);
        w.action("actionExport")->trigger();
        QImage picture(jpg);
        QVERIFY(!picture.isNull());
        auto *chart = w.child<DMMChart>("chart");
        QCOMPARE(picture.size(), chart->lastPicture().size());
        QVERIFY2(picture.width() > 400 && picture.height() > 200, "composed at the chart's size");
        QCOMPARE(w.child<QTabWidget>("tabWidget")->currentIndex(), 0);
        // Something other than the white background was drawn (axes, line).
        int coloured = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y); // JPEG softens the 1-pixel line
                if (c.red() > 180 && c.red() - c.blue() > 80 && c.green() > 90)
                    ++coloured;
            }
        QVERIFY2(coloured > 10, "the orange line is missing from the picture");

        // An unwritable name is reported, not passed over.
        w.prompt->fileNames.enqueue(out.filePath(QStringLiteral("no/such/folder/chart.jpg")));
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->messages().size(), 1);
    }

    void pdfWalksTheTabsAndReturnsToTheCurrentOne()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 65);
        auto *tabs = w.child<QTabWidget>("tabWidget");
        tabs->setCurrentIndex(1);
        QList<int> seen;
        QObject::connect(tabs, &QTabWidget::currentChanged, [&](int i) { seen << i; });
        w.prompt->onExec = choose("rbPdf");
        const QString pdf = out.filePath(QStringLiteral("report.pdf"));
        w.prompt->fileNames.enqueue(pdf);
        w.action("actionExport")->trigger();
        QCOMPARE(seen, QList<int>({0, 1}));
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully."}));
        QVERIFY(!QApplication::overrideCursor());

        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString body = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY(body.contains(QStringLiteral("WaveLength")));
        QVERIFY(body.contains(QStringLiteral("1550nm")));
        // Live rows carry the time they were taken.
        QVERIFY(body.contains(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));

        // An unwritable PDF is reported as a failure and leaves nothing.
        const QString bad = out.filePath(QStringLiteral("missing/report.pdf"));
        w.prompt->fileNames.enqueue(bad);
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->messages().last(), QStringLiteral("The datas is exported failed."));
        QVERIFY(!QFile::exists(bad));
    }

    void spreadsheetRoundTripThroughTheWindow()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 12);
        const QStringList exported = tableCells(*w.window->readingModel());
        w.prompt->onExec = choose("rbTable");
        const QString xls = out.filePath(QStringLiteral("round.xls"));
        w.prompt->fileNames.enqueue(xls);
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->asked.at(1).caption,
                 QStringLiteral("Export the datas to a excel file."));
        QCOMPARE(w.prompt->asked.at(1).filter, QStringLiteral("Excel File(*.xls)"));
        QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully."}));

        // xlrd, a reader we did not write, sees the header and the rows.
        QProcess py;
        // Debian's interpreter: python3-xlrd is installed for it.
        py.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import sys,xlrd; s=xlrd.open_workbook(sys.argv[1]).sheet_by_index(0); "
                            "print(s.nrows); print('|'.join(s.row_values(0)))"),
             xls});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                 QStringLiteral("13\nNo.|Time|Value|Unit|WaveLength"));

        // Import it back: a new active item Import1 with the same cells.
        w.prompt->fileNames.enqueue(xls);
        w.action("actionImport")->trigger();
        QCOMPARE(w.prompt->messages().last(),
                 QStringLiteral("The datas is imported successfully."));
        ItemData *imported = w.window->activeItemData();
        QCOMPARE(imported->name(), QStringLiteral("Import1"));
        QCOMPARE(imported->type(), ItemData::Import);
        QCOMPARE(tableCells(*w.window->readingModel()), exported);
        QVERIFY(w.child<QTreeView>("tvItems")->isEnabled());

        // The next import counts Import items, renamed ones too.
        w.prompt->fileNames.enqueue(xls);
        w.action("actionImport")->trigger();
        QCOMPARE(w.window->activeItemData()->name(), QStringLiteral("Import2"));

        // An imported item takes no live readings: Start stays off after the
        // import, a rename and a new link, and does nothing when forced.
        QVERIFY(!w.action("actionStart")->isEnabled());
        w.prompt->texts.enqueue(QStringLiteral("Span B"));
        w.action("actionItemRename")->trigger();
        QVERIFY(!w.action("actionStart")->isEnabled());
        QMetaObject::invokeMethod(fake, "emitClosed");
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
        QVERIFY(!w.action("actionStart")->isEnabled());
        w.action("actionStart")->setEnabled(true);
        w.action("actionStart")->trigger();
        QVERIFY(!w.window->isAcquiring());
        QVERIFY(!w.action("actionStop")->isEnabled());
    }

    void storedReadingsRoundTripWithTheirMinuteTimes()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
        const QDateTime meterTime(QDate(2025, 5, 6), QTime(7, 8));
        w.prompt->onExec = [&](QDialog &dialog) {
            QTimer::singleShot(0, [&] {
                QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 3), Q_ARG(int, 0));
                for (int i = 0; i < 3; ++i) {
                    QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, 40 + i),
                                              Q_ARG(double, 0.5 * (i + 1)),
                                              Q_ARG(QDateTime, meterTime.addSecs(60 * i)));
                    QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 3),
                                              Q_ARG(int, i + 1));
                }
            });
            return dialog.exec();
        };
        w.action("actionItemDownload")->trigger();
        DataModel *table = w.window->readingModel();
        QCOMPARE(table->rowCount(), 3);
        QStringList before;
        for (int r = 0; r < 3; ++r)
            before << table->index(r, 1).data().toString() + QStringLiteral(":00")
                   << table->index(r, 2).data().toString() << table->index(r, 3).data().toString()
                   << table->index(r, 4).data().toString();
        QCOMPARE(table->index(0, 0).data().toInt(), 40);

        const QString xls = out.filePath(QStringLiteral("stored.xls"));
        w.prompt->onExec = choose("rbTable");
        w.prompt->fileNames.enqueue(xls);
        w.action("actionExport")->trigger();
        // xlrd sees the record numbers and real date cells.
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral(
                      "import sys,xlrd; b=xlrd.open_workbook(sys.argv[1]); s=b.sheet_by_index(0); "
                      "print(int(s.cell_value(1,0)), s.cell_type(1,1)==xlrd.XL_CELL_DATE, "
                      "xlrd.xldate_as_datetime(s.cell_value(1,1), b.datemode))"),
                  xls});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                 QStringLiteral("40 True 2025-05-06 07:08:00"));

        w.prompt->fileNames.enqueue(xls);
        w.action("actionImport")->trigger();
        QCOMPARE(w.window->activeItemData()->type(), ItemData::Import);
        QStringList after;
        for (int r = 0; r < table->rowCount(); ++r)
            after << table->index(r, 1).data().toString() << table->index(r, 2).data().toString()
                  << table->index(r, 3).data().toString() << table->index(r, 4).data().toString();
        QCOMPARE(after, before);
        QCOMPARE(table->index(0, 0).data().toInt(), 1); // imported rows are numbered by position
    }

    void workbookRoundTripThroughTheWindow()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 12);
        const QStringList exported = tableCells(*w.window->readingModel());
        w.prompt->onExec = choose("rbXlsx");
        const QString xlsx = out.filePath(QStringLiteral("round.xlsx"));
        w.prompt->fileNames.enqueue(xlsx);
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->asked.at(1).filter, QStringLiteral("Excel Workbook(*.xlsx)"));
        QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully."}));

        // openpyxl, a reader we did not write, sees the header and the rows.
        QProcess py;
        py.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import sys,openpyxl; s=openpyxl.load_workbook(sys.argv[1]).active; "
                            "print(s.max_row); print('|'.join(c.value for c in s[1]))"),
             xlsx});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                 QStringLiteral("13\nNo.|Time|Value|Unit|WaveLength"));

        // The import lists both workbook kinds and reads this one back.
        w.prompt->fileNames.enqueue(xlsx);
        w.prompt->asked.clear();
        w.action("actionImport")->trigger();
        QCOMPARE(w.prompt->asked.first().filter,
                 QStringLiteral("Excel File(*.xls *.xlsx);;CSV File(*.csv)"));
        QCOMPARE(w.prompt->messages().last(),
                 QStringLiteral("The datas is imported successfully."));
        QCOMPARE(w.window->activeItemData()->name(), QStringLiteral("Import1"));
        QCOMPARE(tableCells(*w.window->readingModel()), exported);

        // A damaged workbook leaves no item behind.
        ItemData *before = w.window->activeItemData();
        auto *tree = w.child<QTreeView>("tvItems");
        const int items = tree->model()->rowCount(tree->model()->index(1, 0));
        QFile junk(out.filePath(QStringLiteral("junk.xlsx")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray("PK\x03\x04") + QByteArray(4096, 'x'));
        junk.close();
        w.prompt->fileNames.enqueue(junk.fileName());
        w.action("actionImport")->trigger();
        QVERIFY(w.prompt->messages().last().startsWith(
            QStringLiteral("The datas is imported failed.\nThe file is no zip archive")));
        QCOMPARE(tree->model()->rowCount(tree->model()->index(1, 0)), items);
        QCOMPARE(w.window->activeItemData(), before);
    }

    void badFilesFailWithoutAHalfMadeItem()
    {
        WindowOnFake w;
        const QString junk = out.filePath(QStringLiteral("junk.xls"));
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        ItemData *before = w.window->activeItemData();
        auto *tree = w.child<QTreeView>("tvItems");
        const int items = tree->model()->rowCount(tree->model()->index(1, 0));
        w.prompt->fileNames.enqueue(junk);
        w.action("actionImport")->trigger();
        QCOMPARE(w.prompt->messages(),
                 QStringList({"The datas is imported failed.\nNot a readable .xls workbook."}));
        QCOMPARE(tree->model()->rowCount(tree->model()->index(1, 0)), items);
        QCOMPARE(w.window->activeItemData(), before);
        QVERIFY(tree->isEnabled());

        // Cancelled file dialog: nothing at all.
        w.prompt->asked.clear();
        w.action("actionImport")->trigger();
        QCOMPARE(w.prompt->asked.size(), 1);
        QCOMPARE(w.prompt->asked[0].caption, QStringLiteral("Import the datas from a excel file."));
    }

    void namesWithoutSuffixGetTheFiltersSuffix()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 20);
        // A dot in the name is no suffix of the format.
        const QString base = out.filePath(QStringLiteral("typed 1.5"));
        for (const char *radio : {"rbTable", "rbPdf", "rbChart", "rbCsv"}) {
            w.prompt->onExec = choose(radio);
            w.prompt->fileNames.enqueue(base);
            w.action("actionExport")->trigger();
        }
        QVERIFY(!QFileInfo::exists(base));
        // Each file is what its suffix says, read by a reader we did not write.
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys,xlrd; print(xlrd.open_workbook(sys.argv[1])"
                                 ".sheet_by_index(0).nrows)"),
                  base + QStringLiteral(".xls")});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(), QStringLiteral("21"));
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {base + QStringLiteral(".pdf")});
        QVERIFY(info.waitForFinished(30000));
        QCOMPARE(info.exitCode(), 0);
        QImageReader jpg(base + QStringLiteral(".jpg"));
        QCOMPARE(jpg.format(), QByteArray("jpeg"));
        QVERIFY(!jpg.read().isNull());
        QVERIFY(QFileInfo(base + QStringLiteral(".csv")).size() > 0);
        QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully.",
                                                    "The datas is exported successfully.",
                                                    "The datas is exported successfully."}));

        // A file the suffix now names is not replaced without asking.
        const QByteArray before = [&] {
            QFile f(base + QStringLiteral(".xls"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        w.prompt->onExec = choose("rbTable");
        w.prompt->fileNames.enqueue(base);
        w.prompt->answers.enqueue(QMessageBox::No);
        w.action("actionExport")->trigger();
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("question"));
        QCOMPARE(w.prompt->asked.last().text,
                 QStringLiteral("typed 1.5.xls already exists.\nDo you want to replace it?"));
        QFile after(base + QStringLiteral(".xls"));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
        QCOMPARE(w.prompt->messages().size(), 3);
        // A name that ends with the suffix, in any case, is kept.
        w.prompt->fileNames.enqueue(base + QStringLiteral(".XLS"));
        w.action("actionExport")->trigger();
        QVERIFY(QFileInfo::exists(base + QStringLiteral(".XLS")));
        QVERIFY(!QFileInfo::exists(base + QStringLiteral(".XLS.xls")));
    }

    void cancelledReportWritesNothingAndSaysNothing()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        // The dialog shows after the first page instead of after a second.
        w.window->setProgressDelayMs(0);
        const QString xls = out.filePath(QStringLiteral("long.xls"));
        writeReadings(xls, 300);
        w.prompt->fileNames.enqueue(xls);
        w.action("actionImport")->trigger();
        QCOMPARE(w.window->readingModel()->rowCount(), 300);

        bool progressAtMessage = false;
        w.prompt->onMessage = [&](const QString &) {
            progressAtMessage = progressAtMessage || visibleProgress(*w.window);
        };
        bool cancelled = false;
        QTimer cancel;
        cancel.setInterval(5);
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            if (QProgressDialog *d = visibleProgress(*w.window)) {
                d->cancel();
                cancelled = true;
            }
        });
        cancel.start();
        w.prompt->asked.clear();
        w.prompt->onExec = choose("rbPdf");
        const QString pdf = out.filePath(QStringLiteral("cancelled.pdf"));
        w.prompt->fileNames.enqueue(pdf);
        w.action("actionExport")->trigger();
        cancel.stop();
        QVERIFY2(cancelled, "the progress dialog never showed");
        QVERIFY(!QFileInfo::exists(pdf));
        QVERIFY(w.prompt->messages().isEmpty());
        QVERIFY(!visibleProgress(*w.window));
        QVERIFY(!QApplication::overrideCursor());

        // Let through, the report ends with its message after the dialog went.
        bool shown = false;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout,
                         [&] { shown = shown || visibleProgress(*w.window); });
        watch.start();
        w.prompt->fileNames.enqueue(pdf);
        w.action("actionExport")->trigger();
        watch.stop();
        QVERIFY(shown);
        QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully."}));
        QVERIFY(!progressAtMessage);
        QVERIFY(QFileInfo(pdf).size() > 0);
    }

    // An import that runs long shows its progress; Cancel leaves neither an
    // item nor anything in the recording journal.
    void cancelledImportLeavesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("xls") << QStringLiteral("long.xls");
        QTest::newRow("csv") << QStringLiteral("long.csv");
    }

    void cancelledImportLeavesNothing()
    {
        QFETCH(QString, name);
        const QString path = out.filePath(name);
        QByteArray csv = QByteArray(csv::kHeader) + "\r\n"; // 5 MB: read a megabyte at a time
        for (int i = 1; i <= 120000; ++i)
            csv += QByteArray::number(i) + ",,,1,0.001,-30,uW,1.000,1550,,,0\r\n";
        QFile file(path);
        if (name.endsWith(".xls"))
            writeReadings(path, 70000);
        else
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) > 0);
        file.close();
        QTemporaryDir journal;
        FixtureAppDir app;
        auto scripted = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *prompt = scripted.get();
        auto w = std::make_unique<Widget>(app.path(), std::move(scripted),
                                          JournalOptions{true, journal.path()});
        w->setProgressDelayMs(0); // instead of after a second
        ItemData *before = w->activeItemData();
        // Cancel is pressed as soon as the dialog lets events through.
        bool cancelled = false;
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            if (QProgressDialog *d = visibleProgress(*w))
                cancelled = (d->cancel(), true);
        });
        cancel.start(0);
        w->importFile(path);
        cancel.stop();
        QVERIFY2(cancelled, "the progress dialog never showed");
        QVERIFY(prompt->messages().isEmpty());
        QCOMPARE(w->treeModel()->rowCount(w->treeModel()->index(1, 0)), 1);
        QCOMPARE(w->activeItemData(), before);

        // The window gone, its journal holds no trace of the import.
        w.reset();
        auto sql = [&](const char *statement) {
            return journalQuery(journal.path(), QString::fromLatin1(statement));
        };
        QCOMPARE(sql("PRAGMA integrity_check"), QStringLiteral("ok"));
        QCOMPARE(sql("SELECT group_concat(name) FROM items"),
                 QStringLiteral("Store Data,Measure1"));
        QCOMPARE(sql("SELECT count(*) FROM batches"), QStringLiteral("0"));
    }

    void badFilesLeaveEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("random bytes") << QStringLiteral("random");
        QTest::newRow("empty") << QStringLiteral("empty");
        QTest::newRow("truncated export") << QStringLiteral("truncated");
        QTest::newRow("cells beyond the last column") << QStringLiteral("wide");
        QTest::newRow("second sheet cut short") << QStringLiteral("cut");
        QTest::newRow("encrypted") << QStringLiteral(XLS_FIXTURE_DIR "/encrypted.xls");
        QTest::newRow("pdf renamed") << QStringLiteral(XLS_FIXTURE_DIR "/pdf-renamed.xls");
    }

    void badFilesLeaveEverythingAsItWas()
    {
        QFETCH(QString, file);
        const QString path = file.startsWith(QLatin1Char('/'))
                                 ? out.filePath(QFileInfo(file).fileName())
                                 : out.filePath(file + QStringLiteral(".xls"));
        auto put = [&](const QByteArray &bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        };
        if (file == QLatin1String("random")) {
            QByteArray noise(20000, '\0');
            for (char &c : noise)
                c = char(QRandomGenerator::global()->bounded(256));
            put(noise);
        } else if (file == QLatin1String("empty")) {
            put(QByteArray());
        } else if (file == QLatin1String("truncated")) {
            writeReadings(path, 300);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray whole = f.readAll();
            f.close();
            put(whole.left(whole.size() / 2));
        } else if (file == QLatin1String("wide")) {
            BiffBuilder b;
            b.addSheet(QStringLiteral("Sheet1"));
            for (int r = 0; r < 200; ++r)
                b.rk(r, 65535, b.addXf(0), r);
            QVERIFY(b.write(path));
        } else if (file == QLatin1String("cut")) {
            // Sheet 1 full and sound, sheet 2 cut off: rows were already read.
            writeReadings(path, 65535 + 100);
            const QByteArray stream = xls::workbookStream(path);
            QVERIFY(BiffBuilder::writeCompoundFile(path, stream.left(stream.size() - 200)));
        } else {
            QFile::remove(path);
            QVERIFY(QFile::copy(file, path));
        }

        WindowOnFake w;
        w.window->setEventPassMs(0);
        record(w, 7); // recorded into the active Measure item
        ItemData *active = w.window->activeItemData();
        QVERIFY(active);
        const int readings = active->dataCount();
        auto *tree = w.child<QTreeView>("tvItems");
        const QModelIndex current = tree->currentIndex();
        const QStringList names = [&] {
            QStringList n;
            for (int top = 0; top < tree->model()->rowCount(); ++top) {
                const QModelIndex group = tree->model()->index(top, 0);
                for (int r = 0; r < tree->model()->rowCount(group); ++r)
                    n << tree->model()->index(r, 0, group).data().toString();
            }
            return n;
        }();

        w.prompt->fileNames.enqueue(path);
        w.action("actionImport")->trigger();
        // The message says why.
        QCOMPARE(w.prompt->messages().size(), 1);
        QVERIFY2(w.prompt->messages()[0].startsWith("The datas is imported failed.\n") &&
                     w.prompt->messages()[0].size() > 40,
                 qPrintable(w.prompt->messages()[0]));
        QStringList after;
        for (int top = 0; top < tree->model()->rowCount(); ++top) {
            const QModelIndex group = tree->model()->index(top, 0);
            for (int r = 0; r < tree->model()->rowCount(group); ++r)
                after << tree->model()->index(r, 0, group).data().toString();
        }
        QCOMPARE(after, names);
        QCOMPARE(w.window->activeItemData(), active);
        QCOMPARE(active->dataCount(), readings);
        QCOMPARE(w.window->readingModel()->rowCount(), readings);
        QCOMPARE(tree->currentIndex(), current);
        QVERIFY(tree->isEnabled());
    }
};

QTEST_MAIN(WindowExchangeTest)
#include "tst_exchange.moc"
