#include "dmmdata.h"
#include "idmm.h"
#include "imydmm.h"
#include "pluginscan.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {
const QString kOver = QStringLiteral("    OL");
const QString kUnder = QStringLiteral("   -OL");

// Takes every reading the meter hands over, as the program does.
class Receiver : public QObject
{
    Q_OBJECT
public:
    std::vector<std::unique_ptr<const DmmData>> live;
    std::vector<std::unique_ptr<const DmmData>> stored;
    int liveNulls = 0;
    int storedNulls = 0;
    QList<QPair<int, int>> progress;
    QList<QThread *> deliveryThreads;

    void attach(IDmm *dmm)
    {
        QObject *o = dmm->object();
        QVERIFY(
            connect(o, SIGNAL(display(const DmmData *)), this, SLOT(onDisplay(const DmmData *))));
        QVERIFY(connect(o, SIGNAL(displayStore(const DmmData *)), this,
                        SLOT(onDisplayStore(const DmmData *))));
        QVERIFY(connect(o, SIGNAL(storeNum(int, int)), this, SLOT(onStoreNum(int, int))));
    }

public slots:
    void onDisplay(const DmmData *d)
    {
        deliveryThreads << QThread::currentThread();
        if (!d)
            ++liveNulls;
        else
            live.emplace_back(d);
    }
    void onDisplayStore(const DmmData *d)
    {
        deliveryThreads << QThread::currentThread();
        if (!d)
            ++storedNulls;
        else
            stored.emplace_back(d);
    }
    void onStoreNum(int total, int sent) { progress << qMakePair(total, sent); }
};

// Sees a signal on the thread that emits it; the reading stays the receiver's.
class ThreadProbe : public QObject
{
    Q_OBJECT
public:
    QList<QThread *> threads;
    QMutex mutex;
public slots:
    void seen(const DmmData *)
    {
        QMutexLocker lock(&mutex);
        threads << QThread::currentThread();
    }
};

int liveReadingsOf(IDmm *dmm)
{
    return dmm->object()->property("liveReadings").toInt();
}

// A reading as the meter shows it: the three values describe one power and
// the texts are those values rounded, or the range texts.
void checkReading(const DmmData *d, const QString &unit, int waveLength)
{
    QCOMPARE(d->unit(), unit);
    QCOMPARE(int(d->waveLength()), waveLength);
    const double uW = d->value(QStringLiteral("uW"));
    const double mW = d->value(QStringLiteral("mW"));
    const double dBm = d->value(QStringLiteral("dBm"));
    QVERIFY(std::isfinite(uW) && std::isfinite(mW) && std::isfinite(dBm));
    QCOMPARE(d->valueMW(), mW);
    QVERIFY(qAbs(mW - uW / 1000.0) <= 1e-12 * qMax(1.0, qAbs(mW)));
    QVERIFY(qAbs(dBm - 10.0 * std::log10(mW)) < 1e-9);
    const QString tUW = d->valueText(QStringLiteral("uW"));
    if (tUW == kOver || tUW == kUnder) {
        QCOMPARE(d->valueText(QStringLiteral("mW")), tUW);
        QCOMPARE(d->valueText(QStringLiteral("dBm")), tUW);
        QCOMPARE(uW, tUW == kOver ? 39990.0 : 0.01);
        return;
    }
    bool ok1 = false, ok2 = false, ok3 = false;
    const double shownUW = tUW.toDouble(&ok1);
    const double shownMW = d->valueText(QStringLiteral("mW")).toDouble(&ok2);
    const QString tDBm = d->valueText(QStringLiteral("dBm"));
    const double shownDBm = tDBm.toDouble(&ok3);
    QVERIFY2(ok1 && ok2 && ok3, qPrintable(tUW + QLatin1Char('|') + tDBm));
    // Two decimals in dBm, four significant digits in uW and mW.
    QCOMPARE(tDBm.size() - tDBm.indexOf(QLatin1Char('.')) - 1, 2);
    QVERIFY(qAbs(shownDBm - dBm) <= 0.005 + 1e-9);
    QVERIFY(qAbs(shownUW - uW) <= 0.0005 * qAbs(uW) + 1e-9);
    QVERIFY(qAbs(shownMW - mW) <= qMax(0.0005 * qAbs(mW), 0.0005) + 1e-12);
}

bool isMinute(const QDateTime &dt)
{
    return dt.isValid() && dt.time().second() == 0 && dt.time().msec() == 0;
}
} // namespace

class TestVirtualMeter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void bindsAllFourInterfaces();
    void converterIsPresentAndDestroysCleanly();
    void openedArrivesLater();
    void liveReadingsAreConsistent();
    void storedReadingsArriveWithProgress();
    void requestWhileClosedSendsNothing();
    void meterTimeFollowsSetMeterTime();
    void unplugClosesAndHidesTheConverter();
    void threadedEmissionIsQueued();
    void faults_data();
    void faults();
    void badSettingsFallBackToDefaults();
    void liveFaults();

private:
    // A fresh copy of the plugin with its own settings file, bound by a scan.
    PluginBinding loadCopy(const QByteArray &ini);
    void openAndWait(const PluginBinding &b);
    void closeAndDrain(const PluginBinding &b, Receiver &r);

    PluginBinding m_meter;
    std::vector<std::unique_ptr<QTemporaryDir>> m_dirs;
};

void TestVirtualMeter::initTestCase()
{
    m_meter = scanPlugins(QStringLiteral(KV930_BUILD_DIR));
    QVERIFY2(m_meter.complete(), qPrintable(m_meter.missing().join(QLatin1Char(' '))));
}

void TestVirtualMeter::cleanup()
{
    if (m_meter.dmm && m_meter.dmm->isOpen()) {
        QSignalSpy closed(m_meter.dmm->object(), SIGNAL(closed()));
        m_meter.dmm->close();
        QTRY_VERIFY_WITH_TIMEOUT(closed.count() > 0, 20000);
    }
    QMetaObject::invokeMethod(m_meter.dmm->object(), "plug");
    QCoreApplication::processEvents();
}

PluginBinding TestVirtualMeter::loadCopy(const QByteArray &ini)
{
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !QDir(dir->path()).mkdir(QStringLiteral("Lib")))
        return {};
    const QString lib = dir->filePath(QStringLiteral("Lib"));
    QFile::copy(QStringLiteral(KV930_BUILD_DIR "/Lib/virtualmeter.so"),
                lib + QStringLiteral("/virtualmeter.so"));
    QFile f(lib + QStringLiteral("/virtualmeter.ini"));
    if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())
        return {};
    f.close();
    PluginBinding b = scanPlugins(dir->path());
    m_dirs.push_back(std::move(dir));
    return b;
}

void TestVirtualMeter::openAndWait(const PluginBinding &b)
{
    QSignalSpy opened(b.dmm->object(), SIGNAL(opened()));
    QVERIFY(b.dmm->open(b.serialDevice));
    // The spy counts an emission from the meter's thread at once, possibly
    // before a wait() would start: wait on the count instead.
    QTRY_VERIFY_WITH_TIMEOUT(opened.count() > 0, 20000);
    QVERIFY(b.dmm->isOpen());
}

void TestVirtualMeter::closeAndDrain(const PluginBinding &b, Receiver &r)
{
    if (b.dmm->isOpen()) {
        QSignalSpy closed(b.dmm->object(), SIGNAL(closed()));
        b.dmm->close();
        QTRY_VERIFY_WITH_TIMEOUT(closed.count() > 0, 20000);
    }
    // Deliveries already queued from a meter thread still arrive.
    QTest::qWait(50);
    r.live.clear();
    r.stored.clear();
    QCOMPARE(liveReadingsOf(b.dmm), 0);
}

void TestVirtualMeter::bindsAllFourInterfaces()
{
    QObject *root = m_meter.dmm->object();
    QCOMPARE(root->metaObject()->className(), "VirtualMeter");
    QCOMPARE(m_meter.serialDevice->object(), root);
    QCOMPARE(dynamic_cast<QObject *>(m_meter.myDmm), root);
    QCOMPARE(dynamic_cast<QObject *>(m_meter.rs232Vir), root);
    QVERIFY(!m_meter.dmm->isOpen());
}

void TestVirtualMeter::converterIsPresentAndDestroysCleanly()
{
    for (int i = 0; i < 50; ++i) {
        const QSerialPortInfo port = m_meter.rs232Vir->findPort(0x1A86, 0x7523);
        QVERIFY(!port.isNull());
        QCOMPARE(port.vendorIdentifier(), quint16(0x1A86));
        QCOMPARE(port.productIdentifier(), quint16(0x7523));
        QVERIFY(port.hasVendorIdentifier() && port.hasProductIdentifier());
        QVERIFY(!port.portName().isEmpty());
        QSerialPortInfo copy(port);
        QSerialPortInfo assigned;
        assigned = copy;
        QCOMPARE(assigned.portName(), port.portName());
        QCOMPARE(assigned.systemLocation(), port.systemLocation());
    }
    QVERIFY(m_meter.rs232Vir->findPort(0x0001, 0x0002).isNull());
}

void TestVirtualMeter::openedArrivesLater()
{
    QSignalSpy opened(m_meter.dmm->object(), SIGNAL(opened()));
    QVERIFY(m_meter.dmm->open(m_meter.serialDevice));
    QCOMPARE(opened.count(), 0);
    QVERIFY(!m_meter.dmm->isOpen());
    QVERIFY(opened.wait());
    QCOMPARE(opened.count(), 1);
    QVERIFY(m_meter.dmm->isOpen());

    QSignalSpy closed(m_meter.dmm->object(), SIGNAL(closed()));
    m_meter.dmm->close();
    QCOMPARE(closed.count(), 0);
    QVERIFY(closed.wait());
    QVERIFY(!m_meter.dmm->isOpen());
}

void TestVirtualMeter::liveReadingsAreConsistent()
{
    Receiver r;
    r.attach(m_meter.dmm);
    const QDateTime before = QDateTime::currentDateTime();
    openAndWait(m_meter);
    QTRY_VERIFY_WITH_TIMEOUT(r.live.size() >= 6, 10000);
    const QDateTime after = QDateTime::currentDateTime();
    for (const auto &d : r.live) {
        checkReading(d.get(), QStringLiteral("dBm"), 1550);
        QVERIFY(!d->stored());
        QVERIFY(d->dateTime() >= before.addSecs(-1) && d->dateTime() <= after.addSecs(1));
        QVERIFY(isMinute(d->dmmDateTime()));
        QVERIFY(qAbs(d->dmmDateTime().secsTo(d->dateTime())) <= 61);
        const QString t = d->valueText(QStringLiteral("dBm"));
        if (t != kOver && t != kUnder) {
            // A laser of about -3 dBm.
            QVERIFY2(d->value(QStringLiteral("dBm")) > -4.5 &&
                         d->value(QStringLiteral("dBm")) < -1.5,
                     qPrintable(t));
        }
    }
    QCOMPARE(r.liveNulls, 0);
    closeAndDrain(m_meter, r);
}

void TestVirtualMeter::storedReadingsArriveWithProgress()
{
    Receiver r;
    r.attach(m_meter.dmm);
    openAndWait(m_meter);
    m_meter.myDmm->requestStoreData();
    // Nothing arrives before the caller is back in its event loop.
    QVERIFY(r.progress.isEmpty() && r.stored.empty());
    QTRY_VERIFY_WITH_TIMEOUT(!r.progress.isEmpty() && r.progress.last().second >= 300, 20000);

    const int total = r.progress.first().first;
    QCOMPARE(total, m_meter.dmm->object()->property("storedCount").toInt());
    QCOMPARE(r.progress.first().second, 0);
    QVERIFY(r.progress.size() > 3); // sent in bursts
    for (int i = 1; i < r.progress.size(); ++i) {
        QCOMPARE(r.progress.at(i).first, total);
        QVERIFY(r.progress.at(i).second > r.progress.at(i - 1).second);
    }
    QCOMPARE(r.progress.last().second, total);
    QCOMPARE(int(r.stored.size()), total);
    for (int i = 0; i < total; ++i) {
        const DmmData *d = r.stored.at(size_t(i)).get();
        QVERIFY(d->stored());
        QCOMPARE(d->storeNo(), i + 1);
        QVERIFY(isMinute(d->dmmDateTime()));
        if (i > 0)
            QCOMPARE(r.stored.at(size_t(i - 1))->dmmDateTime().secsTo(d->dmmDateTime()), 60);
        checkReading(d, QStringLiteral("dBm"), 1550);
    }

    // A second download brings the same memory again.
    const QDateTime firstTime = r.stored.front()->dmmDateTime();
    r.stored.clear();
    r.progress.clear();
    m_meter.myDmm->requestStoreData();
    QTRY_VERIFY_WITH_TIMEOUT(!r.progress.isEmpty() && r.progress.last().second >= total, 20000);
    QCOMPARE(int(r.stored.size()), total);
    QCOMPARE(r.stored.front()->dmmDateTime(), firstTime);
    closeAndDrain(m_meter, r);
}

void TestVirtualMeter::requestWhileClosedSendsNothing()
{
    Receiver r;
    r.attach(m_meter.dmm);
    QVERIFY(!m_meter.dmm->isOpen());
    m_meter.myDmm->requestStoreData();
    QTest::qWait(200);
    QVERIFY(r.progress.isEmpty());
    QVERIFY(r.stored.empty() && r.live.empty());
}

void TestVirtualMeter::meterTimeFollowsSetMeterTime()
{
    Receiver r;
    r.attach(m_meter.dmm);
    openAndWait(m_meter);
    const QDateTime target(QDate(2021, 3, 4), QTime(5, 6, 30));
    m_meter.myDmm->setMeterTime(target);
    const QDateTime clock = m_meter.dmm->object()->property("meterTime").toDateTime();
    QVERIFY(qAbs(target.secsTo(clock)) <= 2);

    r.live.clear();
    QTRY_VERIFY_WITH_TIMEOUT(r.live.size() >= 2, 10000);
    const QDateTime shown = r.live.back()->dmmDateTime();
    QVERIFY2(shown >= QDateTime(QDate(2021, 3, 4), QTime(5, 6)) &&
                 shown <= QDateTime(QDate(2021, 3, 4), QTime(5, 8)),
             qPrintable(shown.toString(Qt::ISODate)));
    // The computer's own clock still stamps the reading.
    QVERIFY(qAbs(r.live.back()->dateTime().secsTo(QDateTime::currentDateTime())) <= 5);

    // Stored readings end at the time of the meter's memory, not the new clock.
    m_meter.myDmm->setMeterTime(QDateTime::currentDateTime());
    closeAndDrain(m_meter, r);
}

void TestVirtualMeter::unplugClosesAndHidesTheConverter()
{
    openAndWait(m_meter);
    QObject *o = m_meter.dmm->object();
    QSignalSpy closed(o, SIGNAL(closed()));
    QSignalSpy refreshed(m_meter.serialDevice->object(), SIGNAL(usbRefreshed()));

    QVERIFY(QMetaObject::invokeMethod(o, "unplug"));
    QVERIFY(m_meter.rs232Vir->findPort(0x1A86, 0x7523).isNull());
    QVERIFY(refreshed.wait());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!m_meter.dmm->isOpen());
    QVERIFY(!m_meter.dmm->open(m_meter.serialDevice));

    QVERIFY(QMetaObject::invokeMethod(o, "plug"));
    QVERIFY(refreshed.wait());
    QVERIFY(!m_meter.rs232Vir->findPort(0x1A86, 0x7523).isNull());
    openAndWait(m_meter);
}

void TestVirtualMeter::threadedEmissionIsQueued()
{
    const PluginBinding b = loadCopy("[meter]\nthreaded=true\nrate=50\nstoredCount=40\n");
    QVERIFY(b.complete());
    QObject *o = b.dmm->object();
    QVERIFY(o->property("threaded").toBool());
    Receiver r;
    r.attach(b.dmm);
    ThreadProbe probe;
    QVERIFY(connect(o, SIGNAL(display(const DmmData *)), &probe, SLOT(seen(const DmmData *)),
                    Qt::DirectConnection));
    openAndWait(b);
    QTRY_VERIFY_WITH_TIMEOUT(r.live.size() >= 5, 10000);
    b.myDmm->requestStoreData();
    QTRY_VERIFY_WITH_TIMEOUT(!r.progress.isEmpty() && r.progress.last().second >= 40, 20000);
    QCOMPARE(int(r.stored.size()), 40);
    for (QThread *t : qAsConst(r.deliveryThreads))
        QCOMPARE(t, QThread::currentThread());
    for (const auto &d : r.live)
        checkReading(d.get(), QStringLiteral("dBm"), 1550);
    QMutexLocker lock(&probe.mutex);
    QVERIFY(!probe.threads.isEmpty());
    for (QThread *t : qAsConst(probe.threads))
        QVERIFY(t != QThread::currentThread());
    lock.unlock();
    closeAndDrain(b, r);
}

void TestVirtualMeter::faults_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<bool>("unplugged");

    QTest::newRow("stop mid transfer")
        << QByteArray("[meter]\nstoredCount=40\n[fault]\nstopMidTransfer=true\n") << 40 << 20
        << false;
    QTest::newRow("unplug mid download")
        << QByteArray("[meter]\nstoredCount=40\n[fault]\nunplugMidDownload=true\n") << 40 << 20
        << true;
    QTest::newRow("announce more than sent")
        << QByteArray("[meter]\nstoredCount=40\n[fault]\nannounceExtra=7\n") << 47 << 40 << false;
    QTest::newRow("send more than announced")
        << QByteArray("[meter]\nstoredCount=40\n[fault]\nsendExtra=7\n") << 40 << 47 << false;
    QTest::newRow("nothing stored") << QByteArray("[meter]\nstoredCount=0\n") << 0 << 0 << false;
}

void TestVirtualMeter::faults()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, announced);
    QFETCH(int, delivered);
    QFETCH(bool, unplugged);

    const PluginBinding b = loadCopy(ini);
    QVERIFY(b.complete());
    Receiver r;
    r.attach(b.dmm);
    QSignalSpy refreshed(b.serialDevice->object(), SIGNAL(usbRefreshed()));
    openAndWait(b);
    b.myDmm->requestStoreData();
    QTRY_VERIFY_WITH_TIMEOUT(!r.progress.isEmpty() && r.progress.last().second >= delivered, 20000);
    // Give a transfer that should have stopped the chance to go on.
    QTest::qWait(300);
    QCOMPARE(r.progress.first(), qMakePair(announced, 0));
    QCOMPARE(r.progress.last().first, announced);
    QCOMPARE(r.progress.last().second, delivered);
    QCOMPARE(int(r.stored.size()), delivered);
    for (int i = 0; i < delivered; ++i)
        QCOMPARE(r.stored.at(size_t(i))->storeNo(), i + 1);
    QCOMPARE(b.dmm->isOpen(), !unplugged);
    QCOMPARE(refreshed.count(), unplugged ? 1 : 0);
    QCOMPARE(b.rs232Vir->findPort(0x1A86, 0x7523).isNull(), unplugged);
    closeAndDrain(b, r);
}

void TestVirtualMeter::badSettingsFallBackToDefaults()
{
    const PluginBinding b =
        loadCopy("[meter]\nrate=fast\nunit=kW\nstoredCount=-5\nwaveLength=1310\n");
    QVERIFY(b.complete());
    QCOMPARE(b.dmm->object()->property("storedCount").toInt(), 0);
    Receiver r;
    r.attach(b.dmm);
    openAndWait(b);
    QTRY_VERIFY_WITH_TIMEOUT(r.live.size() >= 2, 10000);
    for (const auto &d : r.live)
        checkReading(d.get(), QStringLiteral("dBm"), 1310);
    closeAndDrain(b, r);
}

void TestVirtualMeter::liveFaults()
{
    const PluginBinding b = loadCopy("[meter]\nrate=100\nstoredCount=12\n[fault]\nnullEvery="
                                     "4\nnonFiniteEvery=3\nunknownUnitEvery=5\n");
    QVERIFY(b.complete());
    Receiver r;
    r.attach(b.dmm);
    openAndWait(b);
    QTRY_VERIFY_WITH_TIMEOUT(r.live.size() + size_t(r.liveNulls) >= 30, 10000);
    QVERIFY(r.liveNulls > 0);
    int nonFinite = 0;
    int unknown = 0;
    for (const auto &d : r.live) {
        if (d->unit() == QLatin1String("W")) {
            ++unknown;
            QCOMPARE(d->value(d->unit()), 0.0);
            QVERIFY(d->valueText(d->unit()).isEmpty());
        }
        if (!std::isfinite(d->value(QStringLiteral("uW"))))
            ++nonFinite;
        else if (d->unit() == QLatin1String("dBm"))
            checkReading(d.get(), QStringLiteral("dBm"), 1550);
    }
    QVERIFY(nonFinite > 0);
    QVERIFY(unknown > 0);

    // Stored readings carry the same faults; the record numbers stay in order.
    b.myDmm->requestStoreData();
    QTRY_VERIFY_WITH_TIMEOUT(!r.progress.isEmpty() && r.progress.last().second >= 12, 20000);
    QCOMPARE(r.storedNulls, 3);
    QCOMPARE(int(r.stored.size()), 9);
    for (size_t i = 1; i < r.stored.size(); ++i)
        QVERIFY(r.stored.at(i)->storeNo() > r.stored.at(i - 1)->storeNo());
    closeAndDrain(b, r);
}

QTEST_GUILESS_MAIN(TestVirtualMeter)
#include "tst_virtualmeter.moc"
