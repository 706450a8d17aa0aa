// The window on a misbehaving virtual KV930: readings from its own thread,
// null readings, NaN and infinite values, unknown units, and a download that
// stops halfway. Nothing may crash and nothing received may be lost or leaked.
#include "chartline.h"
#include "datamodel.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "kv930resources.h"
#include "readingstore.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QTabWidget>
#include <QTreeView>
#include <QtTest>

#include <cmath>

class FaultyMeterWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir appDir;

    QObject *driver() const
    {
        QPluginLoader loader(appDir.filePath(QStringLiteral("Lib/virtualmeter.so")));
        return loader.instance();
    }

    // A threaded driver left running into process exit tears its thread
    // down in a race with the leak check: stop it while the test runs.
    static void stopDriver(const QString &dir)
    {
        delete QPluginLoader(dir + QStringLiteral("/Lib/virtualmeter.so")).instance();
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        QVERIFY(installVirtualMeter(
            appDir,
            "[meter]\nrate=200\nunit=cycle\nstoredCount=40\nburstSize=4\nburstIntervalMs=5\n"
            "openDelayMs=10\nthreaded=true\n"
            "[fault]\nstopMidTransfer=true\nnullEvery=7\nnonFiniteEvery=5\nunknownUnitEvery=4\n"));
        QVERIFY(driver());
        QVERIFY(driver()->property("threaded").toBool());
    }

    void faultyReadingsNeverBreakTheWindow()
    {
        {
            auto prompt = std::make_unique<ScriptedPrompt>();
            ScriptedPrompt *asked = prompt.get();
            Widget w(appDir.path(), std::move(prompt));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
            windowAction(w, "actionConnect")->trigger();
            QTRY_VERIFY(windowAction(w, "actionStart")->isEnabled());
            windowAction(w, "actionStart")->trigger();
            QTRY_VERIFY(w.readingModel()->rowCount() >= 100);
            windowAction(w, "actionStop")->trigger();

            // Non-finite values and unknown units are held like any reading.
            int nonFinite = 0, unknownUnit = 0;
            const ReadingStore &readings = w.activeItemData()->readings();
            for (int i = 0; i < readings.size(); ++i) {
                if (!std::isfinite(readings.valueUW(i)))
                    ++nonFinite;
                if (readings.unit(i) == QLatin1String("W"))
                    ++unknownUnit;
            }
            QVERIFY(nonFinite > 0);
            QVERIFY(unknownUnit > 0);
            auto *chart = w.findChild<DMMChart *>(QStringLiteral("chart"));
            QCOMPARE(chart->pointCount(0), w.activeItemData()->dataCount());
            QVERIFY(std::isfinite(chart->yMin()) && std::isfinite(chart->yMax()));
            // Every unit of the box draws the same readings.
            for (const char *unit : {"mW", "dBm", "uW"}) {
                w.findChild<QComboBox *>(QStringLiteral("cbbChartUnit"))
                    ->setCurrentText(QLatin1String(unit));
                QCOMPARE(chart->pointCount(0), w.activeItemData()->dataCount());
                QVERIFY(!chart->grab().isNull());
            }

            // A download that stops halfway: the dialog closes by its watchdog and
            // keeps what arrived.
            auto *tree = w.findChild<QTreeView *>(QStringLiteral("tvItems"));
            tree->setCurrentIndex(tree->model()->index(0, 0));
            windowAction(w, "actionItemDownload")->trigger(); // real 3 s watchdog
            const int stored = w.activeItemData()->dataCount();
            QVERIFY2(stored > 0 && stored < 40, qPrintable(QString::number(stored)));
            QCOMPARE(w.readingModel()->rowCount(), stored);
            QVERIFY(asked->messages().isEmpty());
            windowAction(w, "actionDisconnect")->trigger();
            QTRY_VERIFY(windowAction(w, "actionConnect")->isEnabled());
        }
        // With the window gone, every reading the driver handed over has been freed.
        QTRY_COMPARE(driver()->property("liveReadings").toInt(), 0);
    }

    void floodOfStoredReadingsFromTheDriversThread()
    {
        // Each reading is followed by its progress, all queued from the
        // driver's thread far faster than the window takes them in.
        QTemporaryDir floodDir;
        QVERIFY(installVirtualMeter(floodDir,
                                    "[meter]\nrate=0.1\nstoredCount=50000\nburstSize=1\n"
                                    "burstIntervalMs=0\nopenDelayMs=10\nthreaded=true\n"));
        {
            Widget w(floodDir.path(), std::make_unique<ScriptedPrompt>());
            windowAction(w, "actionConnect")->trigger();
            QTRY_VERIFY(windowAction(w, "actionDisconnect")->isEnabled());
            windowAction(w, "actionItemDownload")->trigger(); // returns when the dialog closed
            QTRY_COMPARE_WITH_TIMEOUT(w.activeItemData()->dataCount(), 50000, 60000);
            QCOMPARE(w.readingModel()->rowCount(), 50000);
            QCOMPARE(w.findChild<DMMChart *>(QStringLiteral("chart"))->pointCount(0), 50000);
            QVERIFY(!w.findChild<QDialog *>(QStringLiteral("DlgDownload")));
        }
        stopDriver(floodDir.path());
    }

    void cleanupTestCase() { stopDriver(appDir.path()); }
};

QTEST_MAIN(FaultyMeterWindowTest)
#include "tst_virtualfault.moc"
