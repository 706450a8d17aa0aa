#include "dlgdownload.h"

#include <QAbstractEventDispatcher>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QtTest>

#include <functional>

// Stands in for the main window: forwards meter progress to the dialog.
class ProgressSource : public QObject
{
    Q_OBJECT
signals:
    void updateDowndPos(int total, int pos);
};

namespace {
QProgressBar *bar(DlgDownload &d)
{
    return d.findChild<QProgressBar *>(QStringLiteral("progressBar"));
}

// Runs the dialog modally while `script` feeds it; a guard rejects it should
// it never close, so a fault fails the test instead of hanging it.
int runModal(DlgDownload *dlg, const std::function<void()> &script, int guardMs = 20000)
{
    QTimer::singleShot(0, dlg, script);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, dlg, &QDialog::reject);
    guard.start(guardMs);
    return dlg->exec();
}

QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject *o)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(o);
}
} // namespace

class TestDlgDownload : public QObject
{
    Q_OBJECT
private slots:
    void form();
    void updateMovesBar();
    void totalZeroClosesAtOnce();
    void positionReachingTotalCloses_data();
    void positionReachingTotalCloses();
    void badProgressIsClamped_data();
    void badProgressIsClamped();
    void watchdogIsOneCoarseTimerRestartedOnEachUpdate();
    void watchdogClosesAfterLastUpdate();
    void watchdogDefaultThreeSeconds();
    void watchdogRunsFromOpening();
    void finishBeforeOpeningStillCloses();
    void updateNeverProcessesEvents();
    void deletesItselfWhenAccepted();
    void burstOfSignalsUnderModalRun();
};

void TestDlgDownload::form()
{
    DlgDownload d;
    QCOMPARE(d.objectName(), QStringLiteral("DlgDownload"));
    QCOMPARE(d.size(), QSize(498, 57));
    QCOMPARE(d.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(d.watchdogInterval(), 3000);

    auto *grid = d.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->spacing(), 1);
    QCOMPARE(grid->contentsMargins(), QMargins(3, 3, 3, 3));

    QProgressBar *pb = bar(d);
    QVERIFY(pb);
    QCOMPARE(pb->value(), 0);
    QVERIFY(!pb->isTextVisible());
    QCOMPARE(pb->format(), QStringLiteral("%p"));
    QVERIFY(!pb->invertedAppearance());
    int row, col, rs, cs;
    grid->getItemPosition(grid->indexOf(pb), &row, &col, &rs, &cs);
    QCOMPARE(row, 0);
    QCOMPARE(col, 0);

    auto *label = d.findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral(" Downloading data...   "));
    QCOMPARE(label->minimumHeight(), 30);
    QCOMPARE(label->alignment() & (Qt::AlignLeft | Qt::AlignVCenter),
             Qt::AlignLeft | Qt::AlignVCenter);
    grid->getItemPosition(grid->indexOf(label), &row, &col, &rs, &cs);
    QCOMPARE(row, 2);
    QCOMPARE(col, 0);
}

void TestDlgDownload::updateMovesBar()
{
    DlgDownload d;
    d.show();
    d.updatePos(250, 40);
    QCOMPARE(bar(d)->minimum(), 0);
    QCOMPARE(bar(d)->maximum(), 250);
    QCOMPARE(bar(d)->value(), 40);
    d.updatePos(250, 41);
    QCOMPARE(bar(d)->value(), 41);
    QTest::qWait(50);
    QVERIFY(d.isVisible());
    QCOMPARE(d.result(), 0);
}

void TestDlgDownload::totalZeroClosesAtOnce()
{
    DlgDownload d;
    const int result = runModal(&d, [&d] { d.updatePos(0, 0); });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(bar(d)->minimum(), 0);
    QCOMPARE(bar(d)->maximum(), 0);
    QVERIFY(!d.isVisible());
}

void TestDlgDownload::positionReachingTotalCloses_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("shown");
    QTest::newRow("equal") << 120 << 120 << 120;
    QTest::newRow("beyond total") << 120 << 130 << 120;
    QTest::newRow("one reading") << 1 << 1 << 1;
}

void TestDlgDownload::positionReachingTotalCloses()
{
    QFETCH(int, total);
    QFETCH(int, pos);
    QFETCH(int, shown);
    DlgDownload d;
    const int result = runModal(&d, [&] {
        d.updatePos(total, 0);
        d.updatePos(total, total / 2);
        QVERIFY(d.isVisible());
        d.updatePos(total, pos);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(bar(d)->maximum(), total);
    QCOMPARE(bar(d)->value(), shown);
}

void TestDlgDownload::badProgressIsClamped_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("closes");
    QTest::newRow("negative position") << 10 << -1 << 10 << 0 << false;
    QTest::newRow("negative total") << -5 << 3 << 0 << 0 << true;
    QTest::newRow("both negative") << -5 << -3 << 0 << 0 << true;
    QTest::newRow("int min") << INT_MIN << INT_MIN << 0 << 0 << true;
    QTest::newRow("int max") << INT_MAX << INT_MAX << INT_MAX << INT_MAX << true;
}

void TestDlgDownload::badProgressIsClamped()
{
    QFETCH(int, total);
    QFETCH(int, pos);
    QFETCH(int, max);
    QFETCH(int, value);
    QFETCH(bool, closes);
    DlgDownload d;
    d.setWatchdogInterval(60000);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.updatePos(total, pos);
    QCOMPARE(bar(d)->minimum(), 0);
    QCOMPARE(bar(d)->maximum(), max);
    QCOMPARE(bar(d)->value(), value);
    if (closes) {
        QTRY_VERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
    } else {
        QTest::qWait(50);
        QVERIFY(d.isVisible());
    }
}

void TestDlgDownload::watchdogIsOneCoarseTimerRestartedOnEachUpdate()
{
    DlgDownload d;
    d.show();
    for (int i = 0; i < 20; ++i) {
        d.updatePos(100, i);
        const auto timers = timersOf(&d);
        QCOMPARE(timers.size(), 1); // the earlier watchdog was killed
        QCOMPARE(timers.at(0).interval, 3000);
        QCOMPARE(timers.at(0).timerType, Qt::CoarseTimer);
    }
    d.setWatchdogInterval(700);
    d.updatePos(100, 50);
    QCOMPARE(timersOf(&d).size(), 1);
    QCOMPARE(timersOf(&d).at(0).interval, 700);
}

void TestDlgDownload::watchdogClosesAfterLastUpdate()
{
    // Updates arrive every 100 ms for 2 s, far longer than the 800 ms
    // watchdog: a watchdog that is not restarted would close the dialog
    // midway. After the last update it must close by itself.
    DlgDownload d;
    d.setWatchdogInterval(800);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    for (int i = 0; i < 20; ++i) {
        d.updatePos(1000, i);
        QTest::qWait(100);
        QVERIFY2(d.isVisible(), qPrintable(QStringLiteral("closed at update %1").arg(i)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    // A stopped transfer keeps the bar where it stopped.
    QCOMPARE(bar(d)->value(), 19);
    QCOMPARE(timersOf(&d).size(), 0);
}

void TestDlgDownload::watchdogDefaultThreeSeconds()
{
    DlgDownload d;
    QElapsedTimer clock;
    const int result = runModal(&d, [&] {
        d.updatePos(300, 12);
        clock.start();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    // The default watchdog waits about three seconds (coarse timers may fire
    // up to 5 % early).
    QVERIFY2(clock.elapsed() >= 2800, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(bar(d)->value(), 12);
}

void TestDlgDownload::watchdogRunsFromOpening()
{
    // A meter that never answers: no update ever comes.
    DlgDownload d;
    d.setWatchdogInterval(100);
    QVERIFY(timersOf(&d).isEmpty());
    QCOMPARE(runModal(
                 &d, [] {}, 10000),
             int(QDialog::Accepted)); // the guard rejects
}

void TestDlgDownload::finishBeforeOpeningStillCloses()
{
    DlgDownload d;
    d.setWatchdogInterval(60000);
    d.finish();
    QCoreApplication::processEvents(); // the close may come before the modal run
    QCOMPARE(runModal(
                 &d, [] {}, 10000),
             int(QDialog::Accepted));
}

void TestDlgDownload::updateNeverProcessesEvents()
{
    // Nested event processing would run each queued update inside the
    // previous one, until a flood of them overflows the stack.
    DlgDownload d;
    d.show();
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    for (int i = 0; i < 5; ++i)
        d.updatePos(10, i);
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
}

void TestDlgDownload::deletesItselfWhenAccepted()
{
    QWidget owner;
    QPointer<DlgDownload> d = new DlgDownload(&owner);
    d->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->show();
    d->updatePos(3, 3);
    QTRY_VERIFY(d.isNull());
}

void TestDlgDownload::burstOfSignalsUnderModalRun()
{
    // The way the window runs it: modal, deleting itself, fed through a
    // signal; the updates after the final one must not touch a dead dialog.
    QWidget owner;
    ProgressSource source;
    QPointer<DlgDownload> d = new DlgDownload(&owner);
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(&source, &ProgressSource::updateDowndPos, d.data(), &DlgDownload::updatePos);
    int seen = 0;
    connect(&source, &ProgressSource::updateDowndPos, this, [&seen] { ++seen; });
    const int result = runModal(d, [&source] {
        for (int i = 0; i <= 500; ++i)
            emit source.updateDowndPos(500, i);
        emit source.updateDowndPos(500, 500); // more than announced
        emit source.updateDowndPos(500, 501);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(seen, 503);
    QTRY_VERIFY(d.isNull());
}

QTEST_MAIN(TestDlgDownload)
#include "tst_dlgdownload.moc"
