// Several meters in the window: the virtual KV930 and a laboratory meter
// (our SCPI simulator on a pseudo-terminal) recording at the same time, each
// into its own item, compared in the chart; a link that drops leaves the
// other meter recording.
#include "dlgselectmeter.h"
#include "dmmchart.h"
#include "kv930resources.h"
#include "meterlink.h"
#include "readingstore.h"
#include "recording.h"
#include "scpisimulator.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QTabWidget>
#include <QtTest>

namespace {
// Every reading of the item came from one meter: its power, in time order.
void verifyOneMetersReadings(const ItemData *item, bool fromSimulator)
{
    const ReadingStore &store = item->readings();
    QVERIFY(store.size() > 0);
    for (int i = 0; i < store.size(); ++i) {
        // The simulator holds 123 µW; the virtual meter stays far from it.
        QCOMPARE(qAbs(store.valueUW(i) - 123.0) < 0.01, fromSimulator);
        if (i > 0)
            QVERIFY(store.dateTime(i - 1).ms <= store.dateTime(i).ms);
    }
}
} // namespace

class MetersWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir appDir;
    QTemporaryDir configDir; // the user's kv930.conf

private slots:
    void initTestCase()
    {
        kv930InitResources();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
        QVERIFY(installVirtualMeter(
            appDir, "[meter]\nrate=100\nunit=dBm\npower=-20\nrangeEventChance=0\n"));
        QVERIFY(QFile::copy(QStringLiteral(KV930_BUILD_DIR "/Lib/pm100.so"),
                            appDir.filePath(QStringLiteral("Lib/pm100.so"))));
    }

    // First: the virtual meter is one plugin instance for the whole process,
    // still closing after a window that used it goes.
    void chosenMeterIsKeptForTheNextStart()
    {
        Simulator sim;
        QVERIFY(sim.start(QStringLiteral("pm100"), QStringLiteral("pty"), QStringLiteral("[]")));
        const QString meterId = QStringLiteral("pm100@") + sim.where;
        StartOptions options;
        options.rememberMeter = true;
        {
            auto scripted = std::make_unique<ScriptedPrompt>();
            scripted->onExec = [&meterId](QDialog &dialog) {
                MeterOptions chosen;
                chosen.wavelengthNm = 1310;
                qobject_cast<DlgSelectMeter *>(&dialog)->setSelection(MeterId::fromString(meterId),
                                                                      chosen);
                return int(QDialog::Accepted);
            };
            Widget w(appDir.path(), options, std::move(scripted));
            windowAction(w, "actionSelectMeter")->trigger();
            QCOMPARE(w.recording().meter()->meterId(), meterId);
        }
        Widget again(appDir.path(), options, std::make_unique<ScriptedPrompt>());
        QCOMPARE(again.recording().meter()->meterId(), meterId);
        QCOMPARE(again.recording().meter()->itemName(), QStringLiteral("pm100 1310"));
    }

    void twoMetersRecordAtOnce()
    {
        Simulator sim;
        QVERIFY(sim.start(QStringLiteral("pm100"), QStringLiteral("pty"),
                          QStringLiteral("[0.000123]")));
        auto scripted = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *prompt = scripted.get();
        Widget w(appDir.path(), std::move(scripted));
        w.resize(1000, 600);
        w.show();
        // The laboratory meter lends no memory and no clock to the window.
        prompt->onExec = [&sim](QDialog &dialog) {
            auto *select = qobject_cast<DlgSelectMeter *>(&dialog);
            if (!select)
                return int(QDialog::Rejected);
            MeterOptions options;
            options.readingsPerSecond = 100;
            select->setSelection(MeterId::fromString(QStringLiteral("pm100@") + sim.where),
                                 options);
            return int(QDialog::Accepted);
        };

        windowAction(w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(w, "actionStart")->isEnabled());
        windowAction(w, "actionAddMeter")->trigger();
        QCOMPARE(w.recording().meters().size(), 2);
        QTRY_VERIFY(w.recording().meters().at(1)->isOpen());
        QVERIFY(!windowAction(w, "actionSelectMeter")->isEnabled()); // not while meters are open

        windowAction(w, "actionStart")->trigger();
        ItemData *own = w.activeItemData();
        const ItemTree &tree = w.recording().tree();
        ItemData *lab = nullptr;
        for (int i = 0; i < tree.itemCount(); ++i) {
            if (tree.itemAt(i)->name() == QLatin1String("pm100"))
                lab = tree.itemAt(i);
        }
        QVERIFY(own && lab && own != lab);
        QTRY_VERIFY(own->dataCount() >= 30 && lab->dataCount() >= 30);
        verifyOneMetersReadings(own, false);
        verifyOneMetersReadings(lab, true);
        // The laboratory meter's item is drawn on the active item's axis, named in the legend.
        auto *chart = w.findChild<DMMChart *>(QStringLiteral("chart"));
        w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
        QTRY_VERIFY(chart->legendTexts().contains(QStringLiteral("pm100")));
        // docs/screenshots.sh takes the manual's picture of this scene.
        if (const QString shot = qEnvironmentVariable("KV930_SCREENSHOT"); !shot.isEmpty()) {
            w.findChild<QComboBox *>(QStringLiteral("cbbChartUnit"))
                ->setCurrentText(QStringLiteral("dBm"));
            QTest::qWait(3000); // some seconds of both lines
            QVERIFY(w.grab().save(shot));
        }

        // The laboratory meter's link drops: its readings stay, the KV930 records on.
        prompt->answers.clear();
        sim.process.kill();
        QTRY_VERIFY(!w.recording().meters().at(1)->isOpen());
        QTRY_VERIFY(prompt->messages()
                        .join(QLatin1Char('\n'))
                        .contains(QStringLiteral("The link of the meter pm100@")));
        const int kept = lab->dataCount();
        const int before = own->dataCount();
        QTRY_VERIFY(own->dataCount() >= before + 20);
        QCOMPARE(lab->dataCount(), kept);
        QCOMPARE(prompt->messages().size(), 1); // one message for the drop
        QVERIFY(w.isAcquiring());
        windowAction(w, "actionStop")->trigger();
        QVERIFY(!w.isAcquiring());
    }

    void labMeterAloneHasNoMemoryNorClock()
    {
        Simulator sim;
        QVERIFY(sim.start(QStringLiteral("pm100"), QStringLiteral("pty"), QStringLiteral("[]")));
        StartOptions options;
        options.meter = QStringLiteral("pm100@") + sim.where;
        options.meterOptions.readingsPerSecond = 100;
        Widget w(appDir.path(), options, std::make_unique<ScriptedPrompt>());
        QCOMPARE(w.recording().meter()->meterId(), options.meter);
        windowAction(w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(w, "actionStart")->isEnabled());
        QVERIFY(!windowAction(w, "actionSyncTime")->isEnabled());
        QVERIFY(!windowAction(w, "actionItemDownload")->isEnabled());
        windowAction(w, "actionStart")->trigger();
        QTRY_VERIFY(w.activeItemData() && w.activeItemData()->dataCount() >= 5);
        QCOMPARE(w.activeItemData()->meter(), options.meter);
    }
};

QTEST_MAIN(MetersWindowTest)
#include "tst_meters.moc"
