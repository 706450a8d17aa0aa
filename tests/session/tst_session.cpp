// One user session from start to end: connect, record 10,000 live readings,
// download the meter's memory, export the recording to .xls, PDF and JPG,
// import the .xls, delete every item and close. Each output is checked with a
// reader we did not write, and every reading the meter handed over must be
// gone once the window is.
#include "chartline.h"
#include "datamodel.h"
#include "dlgdownload.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "kv930resources.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QAction>
#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include <limits>

class SessionTest : public QObject
{
    Q_OBJECT

private:
    static constexpr int kLive = 10000;
    static constexpr int kStored = 300;
    QObject *fake = nullptr;
    QTemporaryDir out;

    static QString runTool(const QString &program, const QStringList &arguments)
    {
        QProcess tool;
        tool.start(program, arguments);
        if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
            return QStringLiteral("<%1 failed: %2>")
                .arg(program, QString::fromUtf8(tool.readAllStandardError()));
        return QString::fromUtf8(tool.readAllStandardOutput());
    }
    static QStringList column(const QAbstractItemModel &model, int c)
    {
        QStringList cells;
        for (int r = 0; r < model.rowCount(); ++r)
            cells << model.index(r, c).data().toString();
        return cells;
    }
    static QModelIndex liveGroup(QTreeView *tree) { return tree->model()->index(1, 0); }
    void exportAs(WindowOnFake &w, const char *radio, const QString &file)
    {
        w.prompt->onExec = [radio](QDialog &dialog) {
            dialog.findChild<QRadioButton *>(QLatin1String(radio))->setChecked(true);
            return int(QDialog::Accepted);
        };
        w.prompt->fileNames.enqueue(file);
        w.action("actionExport")->trigger();
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY(fake);
        QVERIFY(out.isValid());
    }

    void wholeSession()
    {
        resetFake(fake);
        const int readingsBefore = fake->property("liveReadings").toInt();
        {
            WindowOnFake w;
            w.window->setEventPassMs(0);
            w.window->resize(1000, 600);
            w.window->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
            auto *tree = w.child<QTreeView>("tvItems");
            DataModel *table = w.window->readingModel();
            auto *chart = w.child<DMMChart>("chart");

            // Connect and record, the event loop turning now and then as it
            // would between readings from a real meter.
            w.action("actionConnect")->trigger();
            QTRY_VERIFY(w.action("actionStart")->isEnabled());
            w.action("actionStart")->trigger();
            QVERIFY(w.window->isAcquiring());
            const QStringList units = {"dBm", "uW", "mW"};
            const QDateTime meterTime(QDate(2026, 5, 6), QTime(7, 8));
            for (int i = 0; i < kLive; ++i) {
                QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, units[i % 3]),
                                          Q_ARG(double, 400.0 + (i % 250) * 0.5), Q_ARG(int, 1550),
                                          Q_ARG(QDateTime, meterTime));
                if (i % 500 == 0)
                    QCoreApplication::processEvents();
            }
            w.action("actionStop")->trigger();
            // The table follows the newest reading once the event loop has turned.
            auto *tv = w.child<QTableView>("tv");
            const QModelIndex newest = tv->model()->index(kLive - 1, 0);
            QTRY_VERIFY(tv->viewport()->rect().contains(tv->visualRect(newest)));
            QCOMPARE(tv->verticalScrollBar()->value(), tv->verticalScrollBar()->maximum());
            ItemData *measure = w.window->activeItemData();
            QCOMPARE(measure->name(), QStringLiteral("Measure1"));
            QCOMPARE(measure->dataCount(), kLive);
            QCOMPARE(table->rowCount(), kLive);
            QCOMPARE(chart->pointCount(0), kLive);

            // Download the meter's memory into Store Data.
            w.prompt->onExec = [this](QDialog &dialog) {
                if (auto *download = qobject_cast<DlgDownload *>(&dialog))
                    download->setWatchdogInterval(5000);
                QTimer::singleShot(0, [this] {
                    const QDateTime stored(QDate(2026, 1, 1), QTime(0, 0));
                    QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, kStored),
                                              Q_ARG(int, 0));
                    for (int i = 0; i < kStored; ++i) {
                        QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, i + 1),
                                                  Q_ARG(double, 10.0 + i),
                                                  Q_ARG(QDateTime, stored.addSecs(60 * i)));
                        QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, kStored),
                                                  Q_ARG(int, i + 1));
                    }
                });
                return dialog.exec();
            };
            w.action("actionItemDownload")->trigger();
            QCOMPARE(w.window->activeItemData()->type(), ItemData::StoreData);
            QCOMPARE(w.window->activeItemData()->dataCount(), kStored);
            QCOMPARE(table->index(kStored - 1, 0).data().toInt(), kStored);

            // Back to the recording, which every export writes.
            const QModelIndex measureRow = tree->model()->index(0, 0, liveGroup(tree));
            tree->setCurrentIndex(measureRow);
            w.action("actionItemSetToActive")->trigger();
            QCOMPARE(w.window->activeItemData(), measure);
            QCOMPARE(table->rowCount(), kLive);
            const QStringList values = column(*table, 2);
            const QStringList unitColumn = column(*table, 3);

            const QString xls = out.filePath(QStringLiteral("session.xls"));
            exportAs(w, "rbTable", xls);
            const QString pdf = out.filePath(QStringLiteral("session.pdf"));
            exportAs(w, "rbPdf", pdf);
            const QString jpg = out.filePath(QStringLiteral("session.jpg"));
            exportAs(w, "rbChart", jpg);
            QCOMPARE(w.prompt->messages(), QStringList({"The datas is exported successfully.",
                                                        "The datas is exported successfully."}));

            // The spreadsheet as xlrd reads it: header plus every reading.
            const QString sheet =
                runTool(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-c"),
                         QStringLiteral(
                             "import sys,xlrd; s=xlrd.open_workbook(sys.argv[1]).sheet_by_index(0);"
                             "print(s.nrows); print(s.cell_value(1,2)); "
                             "print(s.cell_value(s.nrows-1,2)); print(s.cell_value(s.nrows-1,3))"),
                         xls});
            QCOMPARE(sheet.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                     QStringList({QString::number(kLive + 1), values.first(), values.last(),
                                  unitColumn.last()}));

            // The PDF as poppler reads it: several pages, the last reading on the last.
            const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
            const QRegularExpression pagesLine(QStringLiteral("Pages:\\s+(\\d+)"));
            const int pages = pagesLine.match(info).captured(1).toInt();
            QVERIFY2(pages > 10, qPrintable(info));
            const QString lastPage = runTool(QStringLiteral("pdftotext"),
                                             {QStringLiteral("-f"), QString::number(pages),
                                              QStringLiteral("-l"), QString::number(pages),
                                              QStringLiteral("-layout"), pdf, QStringLiteral("-")});
            QVERIFY2(lastPage.contains(QString::number(kLive)), qPrintable(lastPage));

            // The picture decodes at the chart's size.
            QImageReader picture(jpg);
            QCOMPARE(picture.format(), QByteArray("jpeg"));
            const QImage image = picture.read();
            QVERIFY(!image.isNull());
            QCOMPARE(image.size(), chart->lastPicture().size());

            // Import the spreadsheet: a new active item with the same cells.
            w.prompt->fileNames.enqueue(xls);
            w.action("actionImport")->trigger();
            QCOMPARE(w.prompt->messages().last(),
                     QStringLiteral("The datas is imported successfully."));
            QCOMPARE(w.window->activeItemData()->type(), ItemData::Import);
            QCOMPARE(w.window->activeItemData()->dataCount(), kLive);
            QCOMPARE(column(*table, 2), values);
            QCOMPARE(column(*table, 3), unitColumn);

            // Delete every item, always the first one left under Live Data.
            while (tree->model()->rowCount(liveGroup(tree)) > 0) {
                tree->setCurrentIndex(tree->model()->index(0, 0, liveGroup(tree)));
                w.prompt->answers.enqueue(QMessageBox::Yes);
                w.action("actionItemDelete")->trigger();
            }
            QCOMPARE(table->rowCount(), 0);
            QVERIFY(!w.window->isAcquiring());
            // Every reading was deleted when it arrived, the stored ones too.
            QCOMPARE(fake->property("liveReadings").toInt(), readingsBefore);
            // The downloaded readings were never exported: closing asks first.
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
            QVERIFY(w.prompt->asked.last().text.startsWith(
                QStringLiteral("%L1 readings in 1 item were never exported.").arg(kStored)));
        }
        QCOMPARE(fake->property("liveReadings").toInt(), readingsBefore);
    }

    // A faulty driver: no reading at all, values that are not numbers or
    // infinite, zero and negative powers (no dBm), units the program does not
    // know. Each is recorded or dropped, and the table, the chart in every
    // unit and the chart picture still work.
    void faultyReadingsNeverBreakTheWindow()
    {
        resetFake(fake);
        const int readingsBefore = fake->property("liveReadings").toInt();
        {
            WindowOnFake w;
            w.window->setEventPassMs(0);
            w.window->resize(1000, 600);
            w.window->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
            w.action("actionConnect")->trigger();
            QTRY_VERIFY(w.action("actionStart")->isEnabled());
            w.action("actionStart")->trigger();

            const double nan = std::numeric_limits<double>::quiet_NaN();
            const double inf = std::numeric_limits<double>::infinity();
            const QList<double> values = {nan, inf, -inf, 0.0, -5.0, 1e300, -1e-300, 500.0};
            const QStringList units = {"dBm", "uW", "mW", "W", "", "DBM"};
            const QDateTime meterTime(QDate(2026, 5, 6), QTime(7, 8));
            int sent = 0;
            for (double value : values)
                for (const QString &unit : units) {
                    QMetaObject::invokeMethod(fake, "emitDisplayNull");
                    QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, unit),
                                              Q_ARG(double, value), Q_ARG(int, 65535),
                                              Q_ARG(QDateTime, meterTime));
                    ++sent;
                    QCoreApplication::processEvents(); // paint the chart with it
                }
            // An invalid meter time too.
            QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, "uW"), Q_ARG(double, 1.0),
                                      Q_ARG(int, 0), Q_ARG(QDateTime, QDateTime()));
            ++sent;
            QCoreApplication::processEvents();

            QCOMPARE(w.window->activeItemData()->dataCount(), sent);
            QTRY_COMPARE(w.window->readingModel()->rowCount(), sent);
            auto *chart = w.child<DMMChart>("chart");
            QCOMPARE(chart->pointCount(0), sent);
            // Every cell of the table can be shown.
            for (int r = 0; r < sent; ++r)
                for (int c = 0; c < w.window->readingModel()->columnCount(); ++c)
                    w.window->readingModel()->index(r, c).data();

            // Redraw the chart in each unit, as the unit box does.
            auto *unitBox = w.child<QComboBox>("cbbChartUnit");
            for (int i = 0; i < unitBox->count(); ++i) {
                unitBox->setCurrentIndex(i);
                QCOMPARE(chart->pointCount(0), sent);
                chart->repaint();
            }
            QCoreApplication::processEvents();

            const QString jpg = out.filePath(QStringLiteral("faulty.jpg"));
            exportAs(w, "rbChart", jpg);
            QImageReader picture(jpg);
            QVERIFY2(!picture.read().isNull(), qPrintable(picture.errorString()));
            QCOMPARE(w.child<QLabel>("lcdUnit")->text(), QStringLiteral("uW"));
        }
        QCOMPARE(fake->property("liveReadings").toInt(), readingsBefore);
    }
};

QTEST_MAIN(SessionTest)
#include "tst_session.moc"
