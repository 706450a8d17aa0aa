// The recording core on its own: no QApplication, no widgets. A scripted
// meter (the fake driver of the window tests) feeds it; the journal is real.
#include "itemtree.h"
#include "journal.h"
#include "meterlink.h"
#include "recording.h"

#include <QCoreApplication>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
QObject *fakeMeter()
{
    QPluginLoader loader(QStringLiteral(KV930_FIXTURES_DIR "/fake/Lib/fakemeter.so"));
    return loader.instance();
}

void emitReading(QObject *fake, double uW)
{
    QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, QStringLiteral("uW")),
                              Q_ARG(double, uW), Q_ARG(int, 1550),
                              Q_ARG(QDateTime, QDateTime::currentDateTime()));
}

JournalOptions journalIn(const QTemporaryDir &dir)
{
    JournalOptions options;
    options.folder = dir.path();
    return options;
}

std::unique_ptr<Recording> recordingOnFake()
{
    auto recording =
        std::make_unique<Recording>(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
    recording->bindDrivers(QString(), QStringLiteral(KV930_FIXTURES_DIR "/fake/Lib"));
    return recording;
}
} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QObject *fake = fakeMeter();
        QVERIFY(fake);
        QMetaObject::invokeMethod(fake, "resetCounters");
        QMetaObject::invokeMethod(fake, "setAutoOpened", Q_ARG(bool, true));
        if (fake->property("open").toBool())
            QMetaObject::invokeMethod(fake, "emitClosed");
    }

    // Live readings reach exactly the target item while acquisition runs, and
    // every reading the driver hands over is taken or deleted, never leaked.
    void liveReadingsGoToTheTargetOnly()
    {
        QObject *fake = fakeMeter();
        auto recording = recordingOnFake();
        ItemTree &tree = recording->tree();
        MeterLink *meter = recording->meter();
        QVERIFY(meter && meter->isPresent());
        ItemData *first = tree.createItem(QStringLiteral("Measure1"), ItemData::Measure);
        ItemData *second = tree.createItem(QStringLiteral("Measure2"), ItemData::Measure);
        ItemData *imported = tree.createItem(QStringLiteral("Import1"), ItemData::Import);
        QSignalSpy acquisition(meter, &MeterLink::acquisitionChanged);

        QVERIFY(meter->open());
        QTRY_VERIFY(meter->isOpen());
        emitReading(fake, 1.0);                      // not acquiring: dropped
        QVERIFY(!meter->startAcquisition(imported)); // only measurement items record
        QVERIFY(meter->startAcquisition(first));
        emitReading(fake, 2.0);
        emitReading(fake, 3.0);
        QVERIFY(meter->startAcquisition(second)); // another target, acquisition goes on
        emitReading(fake, 4.0);
        tree.deleteItem(second); // the target leaves: recording ends
        QVERIFY(!meter->isAcquiring());
        emitReading(fake, 5.0);
        QVERIFY(meter->startAcquisition(first));
        QMetaObject::invokeMethod(fake, "emitClosed"); // the link closing ends it too
        QVERIFY(!meter->isAcquiring());
        emitReading(fake, 6.0);

        QCOMPARE(first->dataCount(), 2);
        QCOMPARE(first->readings().value(1, ReadingStore::UW), 3.0);
        QCOMPARE(imported->dataCount(), 0);
        QCOMPARE(acquisition.count(), 4); // on, off (deleted), on, off (closed)
        QCOMPARE(fake->property("liveReadings").toInt(), 0);
    }

    // Every change of the tree reaches the journal through its signals alone;
    // a run that ends without closing comes back whole in the next one.
    void theJournalFollowsTheTreeAndComesBack()
    {
        QTemporaryDir dir;
        QObject *fake = fakeMeter();
        {
            auto recording = recordingOnFake();
            ItemTree &tree = recording->tree();
            ItemData *kept = tree.createItem(QStringLiteral("Measure1"), ItemData::Measure);
            tree.setActive(kept);
            QCOMPARE(
                recording->startJournal(journalIn(dir), Recording::JournalMode::NewSession).outcome,
                Recording::JournalStart::Fresh);
            ItemData *gone = tree.createItem(QStringLiteral("Measure2"), ItemData::Measure);
            tree.renameItem(kept, QStringLiteral("Fibre A"));
            QVERIFY(recording->meter()->open());
            QTRY_VERIFY(recording->meter()->isOpen());
            QVERIFY(recording->meter()->startAcquisition(kept));
            for (int i = 1; i <= 300; ++i)
                emitReading(fake, i);
            recording->noteExported(kept, 100);
            tree.appendReading(gone, ReadingStore::Fields());
            tree.deleteItem(gone);
            QTest::qWait(50); // the copy waits for the end of the burst
            QVERIFY(recording->journal()->flush());
            // Ends without closeNormally, as a crash would.
        }
        auto next =
            std::make_unique<Recording>(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
        next->tree().createItem(QStringLiteral("Measure1"), ItemData::Measure); // the fresh tree
        const Recording::JournalStart start =
            next->startJournal(journalIn(dir), Recording::JournalMode::RestoreUnfinished);
        QCOMPARE(start.outcome, Recording::JournalStart::Restored);
        QCOMPARE(start.readings, qint64(300));
        const ItemTree &tree = next->tree();
        QCOMPARE(tree.itemCount(), 1);
        const ItemData *back = tree.itemAt(0);
        QCOMPARE(back->name(), QStringLiteral("Fibre A"));
        QCOMPARE(tree.active(), back);
        QCOMPARE(back->dataCount(), 300);
        QCOMPARE(back->readings().value(299, ReadingStore::UW), 300.0);
        QCOMPARE(next->unexportedReadings(), qint64(200));
        next->closeNormally();
        QVERIFY(next->journal()->flush());

        // A headless run takes over nothing: it always begins a session of its own.
        Recording third(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
        QCOMPARE(third.startJournal(journalIn(dir), Recording::JournalMode::NewSession).outcome,
                 Recording::JournalStart::Fresh);
        QCOMPARE(third.tree().itemCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
