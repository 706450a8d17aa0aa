// The scripted meter other tests drive: what it records and what it emits.
#include "dmmdata.h"
#include "idmm.h"
#include "imydmm.h"
#include "pluginscan.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

class Sink : public QObject
{
    Q_OBJECT
public:
    std::vector<std::unique_ptr<const DmmData>> live;
    std::vector<std::unique_ptr<const DmmData>> stored;
    int nulls = 0;
public slots:
    void onDisplay(const DmmData *d)
    {
        if (d)
            live.emplace_back(d);
        else
            ++nulls;
    }
    void onDisplayStore(const DmmData *d)
    {
        if (d)
            stored.emplace_back(d);
        else
            ++nulls;
    }
};

class TestFakeMeter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void openIsCountedAndOpenedFollowsLater();
    void openFailureAndManualOpened();
    void closeAndStateSignals();
    void converterPresence();
    void readingsAreFullyFilled();
    void storeCallsAndProgress();

private:
    int prop(const char *name) const { return m_root->property(name).toInt(); }

    PluginBinding m_b;
    QObject *m_root = nullptr;
};

void TestFakeMeter::initTestCase()
{
    m_b = scanPlugins(QStringLiteral(KV930_FIXTURES_DIR "/fake"));
    QVERIFY(m_b.complete());
    m_root = m_b.dmm->object();
}

void TestFakeMeter::init()
{
    QVERIFY(QMetaObject::invokeMethod(m_root, "resetCounters"));
    QVERIFY(QMetaObject::invokeMethod(m_root, "setOpenResult", Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "setAutoOpened", Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "setConverterPresent", Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitClosed"));
}

void TestFakeMeter::openIsCountedAndOpenedFollowsLater()
{
    QSignalSpy opened(m_root, SIGNAL(opened()));
    QVERIFY(m_b.dmm->open(m_b.serialDevice));
    QVERIFY(m_b.dmm->open(m_b.serialDevice));
    QCOMPARE(prop("openCalls"), 2);
    QCOMPARE(opened.count(), 0);
    QVERIFY(!m_root->property("open").toBool());
    QVERIFY(opened.wait());
    QTRY_COMPARE(opened.count(), 2);
    QVERIFY(m_b.dmm->isOpen());
    QVERIFY(m_root->property("open").toBool());
    QCOMPARE(prop("isOpenCalls"), 1);
}

void TestFakeMeter::openFailureAndManualOpened()
{
    QSignalSpy opened(m_root, SIGNAL(opened()));
    QVERIFY(QMetaObject::invokeMethod(m_root, "setOpenResult", Q_ARG(bool, false)));
    QVERIFY(!m_b.dmm->open(m_b.serialDevice));
    QCOMPARE(prop("openCalls"), 1);
    QTest::qWait(50);
    QCOMPARE(opened.count(), 0);

    QVERIFY(QMetaObject::invokeMethod(m_root, "setOpenResult", Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "setAutoOpened", Q_ARG(bool, false)));
    QVERIFY(m_b.dmm->open(m_b.serialDevice));
    QTest::qWait(50);
    QCOMPARE(opened.count(), 0);
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitOpened"));
    QCOMPARE(opened.count(), 1);
    QVERIFY(m_b.dmm->isOpen());
}

void TestFakeMeter::closeAndStateSignals()
{
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitOpened"));
    QSignalSpy closed(m_root, SIGNAL(closed()));
    QSignalSpy refreshed(m_b.serialDevice->object(), SIGNAL(usbRefreshed()));
    m_b.dmm->close();
    QCOMPARE(prop("closeCalls"), 1);
    QCOMPARE(closed.count(), 0); // the script decides when the link goes
    QVERIFY(m_b.dmm->isOpen());
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitClosed"));
    QCOMPARE(closed.count(), 1);
    QVERIFY(!m_b.dmm->isOpen());
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitUsbRefreshed"));
    QCOMPARE(refreshed.count(), 1);
}

void TestFakeMeter::converterPresence()
{
    const QSerialPortInfo present = m_b.rs232Vir->findPort(0x1A86, 0x7523);
    QVERIFY(!present.isNull());
    QCOMPARE(present.vendorIdentifier(), quint16(0x1A86));
    QCOMPARE(prop("findPortCalls"), 1);
    QCOMPARE(prop("lastVendorId"), 0x1A86);
    QCOMPARE(prop("lastProductId"), 0x7523);
    QVERIFY(QMetaObject::invokeMethod(m_root, "setConverterPresent", Q_ARG(bool, false)));
    QVERIFY(m_b.rs232Vir->findPort(0x1A86, 0x7523).isNull());
    QCOMPARE(prop("findPortCalls"), 2);
}

void TestFakeMeter::readingsAreFullyFilled()
{
    Sink sink;
    QVERIFY(
        connect(m_root, SIGNAL(display(const DmmData *)), &sink, SLOT(onDisplay(const DmmData *))));
    QVERIFY(connect(m_root, SIGNAL(displayStore(const DmmData *)), &sink,
                    SLOT(onDisplayStore(const DmmData *))));
    const int before = prop("liveReadings");
    const QDateTime meterTime(QDate(2022, 7, 1), QTime(12, 34));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitDisplay", Q_ARG(QString, QStringLiteral("uW")),
                                      Q_ARG(double, 501.2), Q_ARG(int, 1310),
                                      Q_ARG(QDateTime, meterTime)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitDisplay", Q_ARG(QString, QStringLiteral("mW")),
                                      Q_ARG(double, 1.0e6), Q_ARG(int, 1550),
                                      Q_ARG(QDateTime, meterTime)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitDisplayNull"));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitDisplayStore", Q_ARG(int, 17),
                                      Q_ARG(double, 1000.0), Q_ARG(QDateTime, meterTime)));
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitDisplayStoreNull"));
    QCOMPARE(sink.nulls, 2);
    QCOMPARE(int(sink.live.size()), 2);
    QCOMPARE(int(sink.stored.size()), 1);
    QCOMPARE(prop("liveReadings"), before + 3);

    const DmmData *d = sink.live.at(0).get();
    QCOMPARE(d->unit(), QStringLiteral("uW"));
    QCOMPARE(int(d->waveLength()), 1310);
    QCOMPARE(d->dmmDateTime(), meterTime);
    QVERIFY(qAbs(d->dateTime().secsTo(QDateTime::currentDateTime())) <= 5);
    QCOMPARE(d->value(QStringLiteral("uW")), 501.2);
    QCOMPARE(d->valueMW(), 0.5012);
    QVERIFY(qAbs(d->value(QStringLiteral("dBm")) - 10.0 * std::log10(0.5012)) < 1e-12);
    QCOMPARE(d->valueText(QStringLiteral("uW")), QStringLiteral("501.2"));
    QCOMPARE(d->valueText(QStringLiteral("mW")), QStringLiteral("0.501"));
    QCOMPARE(d->valueText(QStringLiteral("dBm")), QStringLiteral("-3.00"));
    QVERIFY(!d->stored());

    const DmmData *over = sink.live.at(1).get();
    QCOMPARE(over->valueText(QStringLiteral("mW")), QStringLiteral("    OL"));
    QCOMPARE(over->value(QStringLiteral("uW")), 39990.0);
    QVERIFY(std::isfinite(over->value(QStringLiteral("dBm"))));

    const DmmData *s = sink.stored.at(0).get();
    QVERIFY(s->stored());
    QCOMPARE(s->storeNo(), 17);
    QCOMPARE(s->dmmDateTime(), meterTime);
    QCOMPARE(s->valueText(QStringLiteral("dBm")), QStringLiteral("0.00"));
    QCOMPARE(s->valueText(QStringLiteral("uW")), QStringLiteral("1000"));
    QCOMPARE(s->valueText(QStringLiteral("mW")), QStringLiteral("1.000"));

    sink.live.clear();
    sink.stored.clear();
    QCOMPARE(prop("liveReadings"), before);
}

void TestFakeMeter::storeCallsAndProgress()
{
    QSignalSpy progress(m_root, SIGNAL(storeNum(int, int)));
    m_b.myDmm->requestStoreData();
    m_b.myDmm->cancelStoreData();
    const QDateTime when(QDate(2023, 1, 2), QTime(3, 4, 5));
    m_b.myDmm->setMeterTime(when);
    QCOMPARE(prop("requestStoreCalls"), 1);
    QCOMPARE(prop("cancelStoreCalls"), 1);
    QCOMPARE(prop("setMeterTimeCalls"), 1);
    QCOMPARE(m_root->property("lastMeterTime").toDateTime(), when);
    QVERIFY(QMetaObject::invokeMethod(m_root, "emitStoreNum", Q_ARG(int, 5), Q_ARG(int, 2)));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toInt(), 5);
    QCOMPARE(progress.at(0).at(1).toInt(), 2);
}

QTEST_GUILESS_MAIN(TestFakeMeter)
#include "tst_fakemeter.moc"
