// Measurement items through the window: new, rename, delete, activate, and the
// live readings that land in them.
#include "chartline.h"
#include "chartpoint.h"
#include "datamodel.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "kv930resources.h"
#include "reading.h"
#include "readingstore.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

class ItemsTest : public QObject
{
    Q_OBJECT

private:
    QObject *fake = nullptr;

    static QModelIndex itemRow(const WindowOnFake &w, int row)
    {
        QAbstractItemModel *m = w.child<QTreeView>("tvItems")->model();
        return m->index(row, 0, m->index(1, 0));
    }
    static int itemCount(const WindowOnFake &w)
    {
        QAbstractItemModel *m = w.child<QTreeView>("tvItems")->model();
        return m->rowCount(m->index(1, 0));
    }
    static void makeCurrent(const WindowOnFake &w, const QModelIndex &index)
    {
        w.child<QTreeView>("tvItems")->setCurrentIndex(index);
    }
    void emitReading(const QString &unit, double uW, int waveLength = 1550)
    {
        QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, unit), Q_ARG(double, uW),
                                  Q_ARG(int, waveLength),
                                  Q_ARG(QDateTime, QDateTime(QDate(2026, 3, 4), QTime(5, 6))));
    }
    void connectAndStart(WindowOnFake &w)
    {
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionStart")->isEnabled());
        w.action("actionStart")->trigger();
        QVERIFY(w.window->isAcquiring());
    }
    int liveReadings() const { return fake->property("liveReadings").toInt(); }
    static DMMChart *chart(const WindowOnFake &w) { return w.child<DMMChart>("chart"); }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY(fake);
    }
    void init() { resetFake(fake); }

    void newItemProposesTheFirstFreeName_data()
    {
        QTest::addColumn<QStringList>("renames"); // names given to the items after creation
        QTest::addColumn<QString>("proposal");
        QTest::newRow("only Measure1") << QStringList() << "Measure2";
        QTest::newRow("Measure1 Measure2 Test") << QStringList({"Measure2", "Test"}) << "Measure3";
        QTest::newRow("Measure1 Measure3: the gap") << QStringList({"Measure3"}) << "Measure2";
        QTest::newRow("Measure1 Measure2 Measure4")
            << QStringList({"Measure2", "Measure4"}) << "Measure3";
        QTest::newRow("case-sensitive") << QStringList({"measure2"}) << "Measure2";
    }
    void newItemProposesTheFirstFreeName()
    {
        QFETCH(QStringList, renames);
        QFETCH(QString, proposal);
        WindowOnFake w;
        for (const QString &name : renames) {
            w.prompt->texts.enqueue(QStringLiteral("tmp"));
            w.action("actionItemNew")->trigger();
            makeCurrent(w, itemRow(w, itemCount(w) - 1));
            w.prompt->texts.enqueue(name);
            w.action("actionItemRename")->trigger();
        }
        w.prompt->asked.clear();
        w.prompt->texts.enqueue(QString()); // cancel
        w.action("actionItemNew")->trigger();
        QCOMPARE(w.prompt->asked.size(), 1);
        QCOMPARE(w.prompt->asked[0].text, QStringLiteral("Name:|") + proposal);
        QCOMPARE(itemCount(w), 1 + renames.size());
    }

    void newItemBecomesActiveCurrentAndStopsAcquisition()
    {
        WindowOnFake w;
        connectAndStart(w);
        emitReading(QStringLiteral("uW"), 500);
        w.prompt->texts.enqueue(QStringLiteral("  Fibre A  "));
        w.action("actionItemNew")->trigger();
        QCOMPARE(itemCount(w), 2);
        const QModelIndex added = itemRow(w, 1);
        QCOMPARE(added.data().toString(), QStringLiteral("Fibre A")); // trimmed
        QVERIFY(added.data(ActiveRole).toBool());
        QVERIFY(!itemRow(w, 0).data(ActiveRole).toBool());
        QCOMPARE(w.child<QTreeView>("tvItems")->currentIndex(), added);
        QVERIFY(!w.window->isAcquiring());
        QVERIFY(w.action("actionStart")->isEnabled());
        QVERIFY(!w.action("actionStop")->isEnabled());
        QCOMPARE(w.window->readingModel()->rowCount(), 0);
        QCOMPARE(chart(w)->pointCount(0), 0);

        // A blank name makes nothing.
        w.prompt->texts.enqueue(QStringLiteral("   "));
        w.action("actionItemNew")->trigger();
        QCOMPARE(itemCount(w), 2);
    }

    void switchingItemsRefillsTableAndChart()
    {
        WindowOnFake w;
        connectAndStart(w);
        for (int i = 0; i < 5; ++i)
            emitReading(QStringLiteral("uW"), 100 + i);
        QTRY_COMPARE(w.window->readingModel()->rowCount(), 5);
        w.prompt->texts.enqueue(QStringLiteral("Second"));
        w.action("actionItemNew")->trigger();
        QCOMPARE(w.window->readingModel()->rowCount(), 0);
        w.action("actionStart")->trigger();
        emitReading(QStringLiteral("mW"), 2000);
        QTRY_COMPARE(w.window->readingModel()->rowCount(), 1);

        makeCurrent(w, itemRow(w, 0));
        w.action("actionItemSetToActive")->trigger();
        QCOMPARE(w.window->readingModel()->rowCount(), 5);
        QCOMPARE(chart(w)->pointCount(0), 5);
        QCOMPARE(w.window->readingModel()->index(4, 2).data().toString(),
                 w.window->activeItemData()->readings().text(4, ReadingStore::UW));
    }

    void activatingTheActiveItemOrTheLiveGroupChangesNothing()
    {
        WindowOnFake w;
        connectAndStart(w);
        ItemData *active = w.window->activeItemData();
        makeCurrent(w, itemRow(w, 0));
        w.action("actionItemSetToActive")->trigger();
        QVERIFY(w.window->isAcquiring()); // acquisition keeps running
        auto *tree = w.child<QTreeView>("tvItems");
        emit tree->activated(tree->model()->index(1, 0));
        QCOMPARE(w.window->activeItemData(), active);
        QVERIFY(w.window->isAcquiring());
        // A double-click activation of the Store Data row does activate it.
        emit tree->activated(tree->model()->index(0, 0));
        QCOMPARE(w.window->activeItemData()->type(), ItemData::StoreData);
        QVERIFY(!w.window->isAcquiring());
        QVERIFY(!w.action("actionStart")->isEnabled());
    }

    void renameStopsAcquisitionAndShowsTheNewName()
    {
        WindowOnFake w;
        connectAndStart(w);
        makeCurrent(w, itemRow(w, 0));
        w.prompt->texts.enqueue(QString()); // cancelled: nothing changes
        w.action("actionItemRename")->trigger();
        QVERIFY(w.window->isAcquiring());
        QCOMPARE(w.prompt->asked.last().text, QStringLiteral("New name:|Measure1"));
        w.prompt->texts.enqueue(QStringLiteral("  Span 3 "));
        w.action("actionItemRename")->trigger();
        QCOMPARE(itemRow(w, 0).data().toString(), QStringLiteral("Span 3"));
        QVERIFY(!w.window->isAcquiring());
        QVERIFY(w.action("actionStart")->isEnabled());
        QVERIFY(!w.action("actionStop")->isEnabled());
        // Group rows cannot be renamed.
        makeCurrent(w, w.child<QTreeView>("tvItems")->model()->index(1, 0));
        const int asked = w.prompt->asked.size();
        w.action("actionItemRename")->trigger();
        QCOMPARE(w.prompt->asked.size(), asked);
    }

    void deleteAsksAndNoKeepsEverything()
    {
        WindowOnFake w;
        makeCurrent(w, itemRow(w, 0));
        w.prompt->answers.enqueue(QMessageBox::No);
        w.action("actionItemDelete")->trigger();
        QCOMPARE(w.prompt->asked.last().text, QStringLiteral("Are you sure delete this item?"));
        QCOMPARE(itemCount(w), 1);
        QVERIFY(w.window->activeItemData());
    }

    void deletingTheOnlyActiveItemLeavesNothingRecording()
    {
        WindowOnFake w;
        connectAndStart(w);
        for (int i = 0; i < 3; ++i)
            emitReading(QStringLiteral("dBm"), 501.2);
        const int before = liveReadings();
        makeCurrent(w, itemRow(w, 0));
        w.prompt->answers.enqueue(QMessageBox::Yes);
        w.action("actionItemDelete")->trigger();
        QCOMPARE(itemCount(w), 0);
        QCOMPARE(liveReadings(), before); // readings are deleted as they arrive
        QVERIFY(!w.window->activeItemData() ||
                w.window->activeItemData()->type() != ItemData::Measure);
        QCOMPARE(w.window->readingModel()->rowCount(), 0);
        QCOMPARE(chart(w)->pointCount(0), 0);
        // The recording ended as Stop ends it: nothing left to stop or start.
        QVERIFY(!w.window->isAcquiring());
        QVERIFY(!w.action("actionStop")->isEnabled());
        QVERIFY(!w.action("actionStart")->isEnabled());
        // Readings now are dropped, not leaked.
        w.action("actionStart")->setEnabled(true);
        w.action("actionStart")->trigger();
        emitReading(QStringLiteral("uW"), 1);
        QCOMPARE(liveReadings(), before);
    }

    void deletingAnInactiveItemKeepsTheActiveItemShown()
    {
        WindowOnFake w;
        w.window->setEventPassMs(0);
        connectAndStart(w);
        emitReading(QStringLiteral("uW"), 10);
        emitReading(QStringLiteral("uW"), 11);
        ItemData *first = w.window->activeItemData();
        w.prompt->texts.enqueue(QStringLiteral("Other"));
        w.action("actionItemNew")->trigger();
        makeCurrent(w, itemRow(w, 0));
        w.action("actionItemSetToActive")->trigger();
        QTRY_COMPARE(w.window->readingModel()->rowCount(), 2);
        w.action("actionStart")->trigger();

        makeCurrent(w, itemRow(w, 1));
        w.prompt->answers.enqueue(QMessageBox::Yes);
        w.action("actionItemDelete")->trigger();
        QCOMPARE(w.window->activeItemData(), first);
        QVERIFY(w.window->isAcquiring()); // its recording goes on
        emitReading(QStringLiteral("uW"), 12);
        QTRY_COMPARE(w.window->readingModel()->rowCount(), 3);
        QTRY_COMPARE(chart(w)->pointCount(0), 3);

        // An export right after writes the active item's readings.
        const QTemporaryDir out;
        const QString xls = out.filePath(QStringLiteral("after-delete.xls"));
        w.prompt->onExec = [](QDialog &dialog) {
            dialog.findChild<QWidget *>(QStringLiteral("rbTable"))->setProperty("checked", true);
            return int(QDialog::Accepted);
        };
        w.prompt->fileNames.enqueue(xls);
        w.action("actionExport")->trigger();
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys,xlrd; print(xlrd.open_workbook(sys.argv[1])"
                                 ".sheet_by_index(0).nrows)"),
                  xls});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(py.readAllStandardOutput().trimmed(), QByteArray("4")); // header and 3 rows
    }

    void liveReadingFillsPanelTableAndChart()
    {
        WindowOnFake w;
        connectAndStart(w);
        auto *unitBox = w.child<QComboBox>("cbbChartUnit");
        unitBox->setCurrentText(QStringLiteral("dBm"));
        emitReading(QStringLiteral("uW"), 501.2, 1310);
        const Reading reading = w.window->activeItemData()->readings().at(0);
        QCOMPARE(w.child<QLabel>("lcdValue")->text(), reading.valueText(QStringLiteral("uW")));
        QCOMPARE(w.child<QLabel>("lcdUnit")->text(), QStringLiteral("uW"));
        QCOMPARE(w.child<QLabel>("lcdDmmDatetime")->text(), QStringLiteral("2026-03-04 05:06"));
        QCOMPARE(w.child<QLabel>("lcdWaveLen")->text(), QString::fromUtf8("  \u03bb 1310nm"));
        QCOMPARE(w.window->readingModel()->rowCount(), 1);
        QCOMPARE(chart(w)->pointCount(0), 1);
        QCOMPARE(chart(w)->decimals(), 2);
        const QString label = chart(w)->series(0)->labelAt(0);
        QCOMPARE(label, QStringLiteral("%1 dBm[%2 uW]")
                            .arg(reading.valueText(QStringLiteral("dBm")),
                                 reading.valueText(QStringLiteral("uW"))));

        // Same unit: no bracket. Changing the unit box rebuilds, the panel stays.
        unitBox->setCurrentText(QStringLiteral("uW"));
        QCOMPARE(chart(w)->decimals(), 1);
        QCOMPARE(chart(w)->series(0)->labelAt(0),
                 reading.valueText(QStringLiteral("uW")) + QStringLiteral(" uW"));
        QCOMPARE(w.child<QLabel>("lcdUnit")->text(), QStringLiteral("uW"));
    }

    void readingsOutsideAcquisitionAreDroppedUnseen()
    {
        WindowOnFake w;
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionStart")->isEnabled());
        const int before = liveReadings();
        emitReading(QStringLiteral("uW"), 5);
        QCOMPARE(liveReadings(), before); // deleted
        QCOMPARE(w.child<QLabel>("lcdValue")->text(), QStringLiteral("00000"));
        QCOMPARE(w.window->activeItemData()->dataCount(), 0);
        // A null reading from a faulty driver is ignored.
        w.action("actionStart")->trigger();
        QMetaObject::invokeMethod(fake, "emitDisplayNull");
        QCOMPARE(w.window->activeItemData()->dataCount(), 0);
        // Unknown units still record, with empty texts.
        emitReading(QStringLiteral("W"), 5);
        QCOMPARE(w.window->activeItemData()->dataCount(), 1);
    }

    void everyReadingIsDeletedExactlyOnce()
    {
        const int before = liveReadings();
        {
            WindowOnFake w;
            connectAndStart(w);
            for (int i = 0; i < 50; ++i)
                emitReading(i % 2 ? QStringLiteral("uW") : QStringLiteral("mW"), 10 + i);
            w.prompt->texts.enqueue(QStringLiteral("B"));
            w.action("actionItemNew")->trigger();
            w.action("actionStart")->trigger();
            for (int i = 0; i < 20; ++i)
                emitReading(QStringLiteral("dBm"), 10 + i);
            // Each reading was copied into its item and deleted on arrival.
            QCOMPARE(liveReadings(), before);
            QCOMPARE(w.window->activeItemData()->dataCount(), 20);
        }
        QCOMPARE(liveReadings(), before);
    }
};

QTEST_MAIN(ItemsTest)
#include "tst_items.moc"
