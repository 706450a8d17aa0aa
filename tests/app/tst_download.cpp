// Downloading the meter's memory and setting its clock, through the window.
#include "chartline.h"
#include "chartpoint.h"
#include "datamodel.h"
#include "dlgdownload.h"
#include "dlgsynctime.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "kv930resources.h"
#include "readingstore.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

class DownloadTest : public QObject
{
    Q_OBJECT

private:
    QObject *fake = nullptr;
    const QDateTime meterTime = QDateTime(QDate(2025, 12, 31), QTime(23, 58));

    void connect(WindowOnFake &w)
    {
        w.action("actionConnect")->trigger();
        QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
    }
    void sendStored(int total, int count, int firstNo = 1)
    {
        QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, total), Q_ARG(int, 0));
        for (int i = 0; i < count; ++i) {
            QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, firstNo + i),
                                      Q_ARG(double, 100.0 + i),
                                      Q_ARG(QDateTime, meterTime.addSecs(60 * i)));
            QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, total), Q_ARG(int, i + 1));
        }
    }
    // Runs the download dialog with the meter's transfer scripted inside its
    // modal loop. False when the dialog did not close by itself (a guard
    // closed it, so that a hang fails the test instead of stopping it).
    bool runDownload(WindowOnFake &w, std::function<void()> transfer, int watchdogMs = 300)
    {
        bool hung = false;
        w.prompt->onExec = [transfer, watchdogMs, &hung](QDialog &dialog) {
            if (auto *download = qobject_cast<DlgDownload *>(&dialog))
                download->setWatchdogInterval(watchdogMs);
            if (transfer)
                QTimer::singleShot(0, transfer);
            QTimer::singleShot(10000, &dialog, [&] {
                hung = true;
                dialog.reject();
            });
            return dialog.exec();
        };
        w.action("actionItemDownload")->trigger();
        return !hung;
    }
    static QModelIndex storeRow(const WindowOnFake &w)
    {
        return w.child<QTreeView>("tvItems")->model()->index(0, 0);
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY(fake);
    }
    void init() { resetFake(fake); }

    void downloadWhileClosedDoesNothing()
    {
        WindowOnFake w;
        w.action("actionItemDownload")->trigger();
        QCOMPARE(fake->property("requestStoreCalls").toInt(), 0);
        QVERIFY(w.prompt->asked.isEmpty());
        QCOMPARE(w.window->activeItemData()->type(), ItemData::Measure);
    }

    void downloadFillsStoreDataAndClosesByItself()
    {
        WindowOnFake w;
        connect(w);
        runDownload(w, [this] { sendStored(4, 4, 17); });
        QCOMPARE(fake->property("requestStoreCalls").toInt(), 1);
        ItemData *store = w.window->activeItemData();
        QCOMPARE(store->type(), ItemData::StoreData);
        QVERIFY(storeRow(w).data(ActiveRole).toBool());
        QCOMPARE(store->dataCount(), 4);
        DataModel *table = w.window->readingModel();
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(table->index(0, 0).data().toInt(), 17); // the meter's record number
        QCOMPARE(table->index(0, 1).data().toString(), QStringLiteral("2025-12-31 23:58"));
        QCOMPARE(table->index(3, 0).data().toInt(), 20);
        // Chart points during the download: meter time, label without a blank.
        auto *chart = w.child<DMMChart>("chart");
        QCOMPARE(chart->series(0)->dateTimeAt(0), meterTime);
        QCOMPARE(chart->series(0)->labelAt(0), store->readings().text(0, ReadingStore::UW) + "uW");
        QVERIFY(!w.action("actionStart")->isEnabled());
        // A rebuild for another unit keeps the meter's time.
        w.child<QComboBox>("cbbChartUnit")->setCurrentText(QStringLiteral("dBm"));
        QCOMPARE(chart->pointCount(0), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(chart->series(0)->dateTimeAt(i), meterTime.addSecs(60 * i));

        // A second download replaces the first.
        const int before = fake->property("liveReadings").toInt();
        runDownload(w, [this] { sendStored(2, 2, 1); });
        QCOMPARE(store->dataCount(), 2);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->index(1, 0).data().toInt(), 2);
        QCOMPARE(fake->property("liveReadings").toInt(), before); // deleted on arrival
    }

    void totalOfZeroClosesAtOnce()
    {
        WindowOnFake w;
        connect(w);
        QElapsedTimer clock;
        clock.start();
        runDownload(
            w,
            [this] {
                QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 0), Q_ARG(int, 0));
            },
            60000);
        QVERIFY(clock.elapsed() < 30000); // closed by the total, not by the watchdog
        QCOMPARE(w.window->activeItemData()->dataCount(), 0);
    }

    void transferStoppingMidwayKeepsWhatArrived()
    {
        WindowOnFake w;
        connect(w);
        // The meter announces 10 but sends 3; the watchdog closes the dialog.
        runDownload(
            w, [this] { sendStored(10, 3); }, 200);
        QCOMPARE(w.window->activeItemData()->dataCount(), 3);
        QCOMPARE(w.window->readingModel()->rowCount(), 3);
    }

    void theDialogNeverHangsAndKeepsWhatArrived()
    {
        WindowOnFake w;
        connect(w);
        // The meter never answers: the watchdog runs from the opening.
        QVERIFY(runDownload(w, nullptr, 200));
        QCOMPARE(w.window->activeItemData()->type(), ItemData::StoreData);

        // The link drops before the first progress, then in the middle.
        QVERIFY(runDownload(
            w, [this] { QMetaObject::invokeMethod(fake, "emitClosed"); }, 60000));
        connect(w);
        QVERIFY(runDownload(
            w,
            [this] {
                sendStored(5, 2);
                QMetaObject::invokeMethod(fake, "emitClosed");
            },
            60000));
        QCOMPARE(w.window->activeItemData()->dataCount(), 2);
        // A reading still on its way after the close is kept too.
        QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, 3), Q_ARG(double, 1.0),
                                  Q_ARG(QDateTime, meterTime));
        QTRY_COMPARE(w.window->readingModel()->rowCount(), 3);

        // The whole memory inside the request, before the dialog opens.
        connect(w);
        QMetaObject::invokeMethod(fake, "setAnswerInsideRequest", Q_ARG(int, 6));
        int shownMax = -1;
        int result = -1;
        w.prompt->onExec = [&](QDialog &dialog) {
            shownMax = dialog.findChild<QProgressBar *>()->maximum();
            QTimer::singleShot(10000, &dialog, &QDialog::reject); // against a hang
            result = dialog.exec();
            return result;
        };
        w.action("actionItemDownload")->trigger();
        QCOMPARE(result, int(QDialog::Accepted)); // closed by itself, not by the guard
        QCOMPARE(shownMax, 6);
        QCOMPARE(w.window->activeItemData()->dataCount(), 6);
        QCOMPARE(w.window->readingModel()->rowCount(), 6);
    }

    void badProgressNeverLosesAReading()
    {
        WindowOnFake w;
        connect(w);
        QVERIFY(runDownload(w, [this] {
            QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, -3), Q_ARG(int, 0));
            sendStored(0, 2);
        }));
        // Progress and readings after the dialog closed.
        QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 5), Q_ARG(int, 3));
        QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, 3), Q_ARG(double, 1.0),
                                  Q_ARG(QDateTime, meterTime));
        QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, -1), Q_ARG(int, -1));
        QCOMPARE(w.window->activeItemData()->dataCount(), 3);
        QTRY_COMPARE(w.child<DMMChart>("chart")->pointCount(0), 3);
    }

    void moreThanAnnouncedAndBadReadingsAreHandled()
    {
        WindowOnFake w;
        connect(w);
        runDownload(w, [this] {
            QMetaObject::invokeMethod(fake, "emitDisplayStoreNull");
            sendStored(2, 2);
            // Past the announced total: still recorded while Store Data is active.
            QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, 3), Q_ARG(double, 1.0),
                                      Q_ARG(QDateTime, meterTime));
            QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 2), Q_ARG(int, 3));
        });
        QTest::qWait(20);
        QCOMPARE(w.window->activeItemData()->dataCount(), 3);
    }

    void storedReadingsForAnInactiveStoreAreDeleted()
    {
        WindowOnFake w;
        connect(w);
        const int before = fake->property("liveReadings").toInt();
        QMetaObject::invokeMethod(fake, "emitDisplayStore", Q_ARG(int, 1), Q_ARG(double, 5.0),
                                  Q_ARG(QDateTime, meterTime));
        QCOMPARE(fake->property("liveReadings").toInt(), before);
        QCOMPARE(w.window->readingModel()->rowCount(), 0);
    }

    void progressBeforeTheDialogIsNotSeen()
    {
        WindowOnFake w;
        connect(w);
        // Progress emitted before the dialog exists goes nowhere: the dialog
        // starts at 0 and waits for its own updates.
        QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, 5), Q_ARG(int, 5));
        int seenValue = -1;
        w.prompt->onExec = [&](QDialog &dialog) {
            auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
            seenValue = bar ? bar->value() : -2;
            QTimer::singleShot(0, &dialog, &QDialog::reject);
            return dialog.exec();
        };
        w.action("actionItemDownload")->trigger();
        QCOMPARE(seenValue, 0);
    }

    void syncTimeSendsTheDialogsValueEachPress()
    {
        WindowOnFake w;
        connect(w);
        w.action("actionSyncTime")->trigger();
        w.action("actionSyncTime")->trigger();
        const QList<dlgSyncTime *> dialogs = w.window->findChildren<dlgSyncTime *>();
        QCOMPARE(dialogs.size(), 2); // non-modal, several at once
        dlgSyncTime *dialog = dialogs.first();
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        auto *edit = dialog->findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEdit"));
        const QDateTime chosen(QDate(2027, 1, 2), QTime(3, 4, 5));
        edit->setDateTime(chosen);
        auto *button = dialog->findChild<QPushButton *>(QStringLiteral("btnSync"));
        button->click();
        button->click();
        QCOMPARE(fake->property("setMeterTimeCalls").toInt(), 2);
        QCOMPARE(fake->property("lastMeterTime").toDateTime(), chosen);
        QVERIFY(dialog->isVisible());
        // Still sends after the link closed.
        QMetaObject::invokeMethod(fake, "emitClosed");
        button->click();
        QCOMPARE(fake->property("setMeterTimeCalls").toInt(), 3);
    }
};

QTEST_MAIN(DownloadTest)
#include "tst_download.moc"
