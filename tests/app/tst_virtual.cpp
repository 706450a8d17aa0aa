// The window on the virtual KV930, used the way a person would: connect,
// record, stop, download the memory, set the clock, unplug.
#include "chartline.h"
#include "datamodel.h"
#include "dlgdownload.h"
#include "dlgsynctime.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "kv930resources.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QAction>
#include <QDateTimeEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

class VirtualMeterWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir appDir;

    std::unique_ptr<Widget> makeWindow(ScriptedPrompt **prompt)
    {
        auto scripted = std::make_unique<ScriptedPrompt>();
        *prompt = scripted.get();
        auto window = std::make_unique<Widget>(appDir.path(), std::move(scripted));
        window->show();
        return window;
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        QVERIFY(installVirtualMeter(
            appDir,
            "[meter]\nrate=100\nunit=cycle\nstoredCount=45\nburstSize=5\nburstIntervalMs=5\n"
            "openDelayMs=10\n"));
    }

    void connectRecordStopDisconnect()
    {
        ScriptedPrompt *prompt = nullptr;
        auto w = makeWindow(&prompt);
        QVERIFY(w->pluginsComplete());
        QVERIFY(windowAction(*w, "actionConnect")->isEnabled()); // its converter is always there
        windowAction(*w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(*w, "actionStart")->isEnabled());
        QVERIFY(windowAction(*w, "actionDisconnect")->isEnabled());
        QVERIFY(windowAction(*w, "actionSyncTime")->isEnabled());
        QVERIFY(!windowAction(*w, "actionConnect")->isEnabled());

        windowAction(*w, "actionStart")->trigger();
        QTRY_VERIFY(w->readingModel()->rowCount() >= 20);
        auto *panel = w->findChild<QLabel *>(QStringLiteral("lcdWaveLen"));
        QCOMPARE(panel->text(), QString::fromUtf8("  \u03bb 1550nm"));
        QVERIFY(w->findChild<QLabel *>(QStringLiteral("lcdValue"))->text() !=
                QStringLiteral("00000"));
        auto *chart = w->findChild<DMMChart *>(QStringLiteral("chart"));
        QCOMPARE(chart->pointCount(0), w->readingModel()->rowCount());
        // The table follows the newest row.
        auto *tv = w->findChild<QTableView *>(QStringLiteral("tv"));
        QTRY_VERIFY(tv->verticalScrollBar()->value() == tv->verticalScrollBar()->maximum());

        windowAction(*w, "actionStop")->trigger();
        const int held = w->activeItemData()->dataCount();
        QTest::qWait(100); // readings keep coming and are dropped
        QCOMPARE(w->activeItemData()->dataCount(), held);
        QVERIFY(windowAction(*w, "actionStart")->isEnabled());

        windowAction(*w, "actionDisconnect")->trigger();
        QTRY_VERIFY(windowAction(*w, "actionConnect")->isEnabled());
        QVERIFY(!windowAction(*w, "actionStart")->isEnabled());
        QVERIFY(!windowAction(*w, "actionSyncTime")->isEnabled());
        QVERIFY(prompt->messages().isEmpty());
    }

    void downloadTheMemoryWithProgress()
    {
        ScriptedPrompt *prompt = nullptr;
        auto w = makeWindow(&prompt);
        windowAction(*w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(*w, "actionSyncTime")->isEnabled());
        int maxSeen = 0;
        prompt->onExec = [&](QDialog &dialog) {
            auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
            QObject::connect(bar, &QProgressBar::valueChanged,
                             [&](int v) { maxSeen = qMax(maxSeen, v); });
            return dialog.exec(); // closes by itself when the last reading is in
        };
        auto *tree = w->findChild<QTreeView *>(QStringLiteral("tvItems"));
        tree->setCurrentIndex(tree->model()->index(0, 0));
        windowAction(*w, "actionItemDownload")->trigger();
        QCOMPARE(maxSeen, 45);
        ItemData *store = w->activeItemData();
        QCOMPARE(store->type(), ItemData::StoreData);
        QCOMPARE(store->dataCount(), 45);
        QCOMPARE(w->readingModel()->index(0, 0).data().toInt(), 1);
        QCOMPARE(w->readingModel()->index(44, 0).data().toInt(), 45);
        // Minute times, one minute apart.
        const QDateTime t0 = QDateTime::fromString(w->readingModel()->index(0, 1).data().toString(),
                                                   QStringLiteral("yyyy-MM-dd hh:mm"));
        const QDateTime t1 = QDateTime::fromString(w->readingModel()->index(1, 1).data().toString(),
                                                   QStringLiteral("yyyy-MM-dd hh:mm"));
        QVERIFY(t0.isValid());
        QCOMPARE(t0.secsTo(t1), 60);
        QVERIFY(!windowAction(*w, "actionStart")->isEnabled());

        // Again: the earlier download is replaced, not added to.
        windowAction(*w, "actionItemDownload")->trigger();
        QCOMPARE(store->dataCount(), 45);
    }

    void syncTimeSetsTheMeterClock()
    {
        ScriptedPrompt *prompt = nullptr;
        auto w = makeWindow(&prompt);
        windowAction(*w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(*w, "actionSyncTime")->isEnabled());
        windowAction(*w, "actionSyncTime")->trigger();
        auto *dialog = w->findChild<dlgSyncTime *>();
        QVERIFY(dialog);
        const QDateTime chosen(QDate(2030, 6, 7), QTime(8, 9, 0));
        dialog->findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEdit"))->setDateTime(chosen);
        dialog->findChild<QPushButton *>(QStringLiteral("btnSync"))->click();
        // Later live readings carry the meter's new clock.
        windowAction(*w, "actionStart")->trigger();
        QTRY_VERIFY(w->readingModel()->rowCount() > 0);
        const QString shown = w->findChild<QLabel *>(QStringLiteral("lcdDmmDatetime"))->text();
        QVERIFY2(shown.startsWith(QStringLiteral("2030-06-07 08:")), qPrintable(shown));
    }

    void unplugAndPlugAgain()
    {
        ScriptedPrompt *prompt = nullptr;
        auto w = makeWindow(&prompt);
        // The same driver instance the window bound.
        QPluginLoader loader(appDir.filePath(QStringLiteral("Lib/virtualmeter.so")));
        QObject *driver = loader.instance();
        QVERIFY(driver);
        windowAction(*w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(*w, "actionDisconnect")->isEnabled());
        QMetaObject::invokeMethod(driver, "unplug");
        QTRY_VERIFY(!windowAction(*w, "actionDisconnect")->isEnabled()); // closed() arrived
        QVERIFY(!windowAction(*w, "actionConnect")->isEnabled());        // no converter
        QMetaObject::invokeMethod(driver, "plug");
        QTRY_VERIFY(windowAction(*w, "actionConnect")->isEnabled());
    }
};

QTEST_MAIN(VirtualMeterWindowTest)
#include "tst_virtual.moc"
