#include "idmm.h"
#include "imydmm.h"
#include "pluginscan.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString fixture(const QString &name)
{
    return QStringLiteral(KV930_FIXTURES_DIR "/") + name;
}

QString providerOf(QObject *object)
{
    return object ? object->property("provider").toString() : QString();
}

QObject *rootOf(IMyDmm *p)
{
    return dynamic_cast<QObject *>(p);
}
QObject *rootOf(SerialRS232VirInf *p)
{
    return dynamic_cast<QObject *>(p);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

class TestPluginScan : public QObject
{
    Q_OBJECT

private slots:
    void suffixIsThePlatformLibrarySuffix();
    void scanOrderIgnoresCase();
    void bindsFixture_data();
    void bindsFixture();
    void laterProviderWins();
    void oneLibraryOffersAllFour();
    void fourLibrariesOneEach();
    void missingInterfaceIsNamed();
    void withoutLibTheApplicationFolderIsScanned();
    void junkBesideAPluginIsSkipped();
    void damagedLibrariesAreSkipped();
};

void TestPluginScan::suffixIsThePlatformLibrarySuffix()
{
#if defined(Q_OS_WIN)
    QCOMPARE(pluginLibrarySuffix(), QStringLiteral("dll"));
#elif defined(Q_OS_MACOS)
    QCOMPARE(pluginLibrarySuffix(), QStringLiteral("dylib"));
#else
    QCOMPARE(pluginLibrarySuffix(), QStringLiteral("so"));
#endif
}

void TestPluginScan::scanOrderIgnoresCase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"b.so", "A.so", "c.so", "B2.so", "a1.so"})
        QVERIFY(writeFile(dir.filePath(QString::fromLatin1(name)), "x"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Ab.so")));

    const QStringList expected = {QStringLiteral("."),     QStringLiteral(".."),
                                  QStringLiteral("A.so"),  QStringLiteral("a1.so"),
                                  QStringLiteral("Ab.so"), QStringLiteral("b.so"),
                                  QStringLiteral("B2.so"), QStringLiteral("c.so")};
    QCOMPARE(pluginScanOrder(dir.path()), expected);
    // Where no two names differ only in case, this is QDir's own default order.
    QCOMPARE(pluginScanOrder(dir.path()), QDir(dir.path()).entryList());

    // Names equal but for case still come out in one fixed order.
    QTemporaryDir ties;
    QVERIFY(ties.isValid());
    for (const char *name : {"x.so", "X.so", "x.SO"})
        QVERIFY(writeFile(ties.filePath(QString::fromLatin1(name)), "x"));
    const QStringList tieOrder = pluginScanOrder(ties.path());
    QCOMPARE(tieOrder.mid(2),
             (QStringList{QStringLiteral("X.so"), QStringLiteral("x.SO"), QStringLiteral("x.so")}));
}

void TestPluginScan::bindsFixture_data()
{
    QTest::addColumn<QString>("fixtureCase");
    QTest::addColumn<QStringList>("missing");
    const QStringList all = {QStringLiteral("com.zr.SerialDeviceInf"),
                             QStringLiteral("com.zr.SerialRS232VirInf"),
                             QStringLiteral("com.zr.IDmm"), QStringLiteral("com.zr.IMyDmm")};
    QStringList allButDmm = all;
    allButDmm.removeAll(QStringLiteral("com.zr.IDmm"));

    QTest::newRow("upper-case suffix is loaded") << "uppersuffix" << allButDmm;
    QTest::newRow("further suffix is skipped") << "furthersuffix" << all;
    QTest::newRow("directory named like a plugin is skipped") << "directory" << all;
    QTest::newRow("one library with all four") << "allfour" << QStringList();
    QTest::newRow("four libraries") << "split" << QStringList();
    QTest::newRow("no IMyDmm") << "incomplete" << QStringList{QStringLiteral("com.zr.IMyDmm")};
    QTest::newRow("two IDmm providers") << "twodmm" << QStringList();
    QTest::newRow("junk beside a plugin") << "junk" << QStringList();
    QTest::newRow("scripted fake") << "fake" << QStringList();
}

void TestPluginScan::bindsFixture()
{
    QFETCH(QString, fixtureCase);
    QFETCH(QStringList, missing);

    const PluginBinding b = scanPlugins(fixture(fixtureCase));
    QCOMPARE(b.scannedDirectory,
             QDir(fixture(fixtureCase + QStringLiteral("/Lib"))).absolutePath());
    QCOMPARE(b.missing(), missing);
    QCOMPARE(b.complete(), missing.isEmpty());
    QCOMPARE(b.dmm == nullptr, missing.contains(QStringLiteral("com.zr.IDmm")));
    QCOMPARE(b.myDmm == nullptr, missing.contains(QStringLiteral("com.zr.IMyDmm")));
    QCOMPARE(b.serialDevice == nullptr, missing.contains(QStringLiteral("com.zr.SerialDeviceInf")));
    QCOMPARE(b.rs232Vir == nullptr, missing.contains(QStringLiteral("com.zr.SerialRS232VirInf")));
}

void TestPluginScan::laterProviderWins()
{
    const PluginBinding b = scanPlugins(fixture(QStringLiteral("twodmm")));
    QVERIFY(b.dmm);
    // "a_dmm.so" then "B_dmm.so" when case is ignored; a case-sensitive order
    // would have bound a_dmm.
    QCOMPARE(providerOf(b.dmm->object()), QStringLiteral("B_dmm"));
    QCOMPARE(providerOf(rootOf(b.myDmm)), QStringLiteral("onlymydmm"));
}

void TestPluginScan::oneLibraryOffersAllFour()
{
    const PluginBinding b = scanPlugins(fixture(QStringLiteral("allfour")));
    QVERIFY(b.complete());
    QObject *root = b.dmm->object();
    QCOMPARE(root->metaObject()->className(), "FakeMeter");
    QCOMPARE(b.serialDevice->object(), root);
    QCOMPARE(rootOf(b.myDmm), root);
    QCOMPARE(rootOf(b.rs232Vir), root);
}

void TestPluginScan::fourLibrariesOneEach()
{
    const PluginBinding b = scanPlugins(fixture(QStringLiteral("split")));
    QVERIFY(b.complete());
    QCOMPARE(providerOf(b.dmm->object()), QStringLiteral("onlydmm"));
    QCOMPARE(providerOf(rootOf(b.myDmm)), QStringLiteral("onlymydmm"));
    QCOMPARE(providerOf(b.serialDevice->object()), QStringLiteral("onlyserialdevice"));
    QCOMPARE(providerOf(rootOf(b.rs232Vir)), QStringLiteral("onlyrs232vir"));
    // The library bound stays usable after the scan's loader is gone.
    QVERIFY(!b.dmm->isOpen());
    QVERIFY(b.rs232Vir->findPort(0x1A86, 0x7523).isNull());
}

void TestPluginScan::missingInterfaceIsNamed()
{
    const PluginBinding b = scanPlugins(fixture(QStringLiteral("incomplete")));
    QVERIFY(!b.complete());
    QCOMPARE(b.missing(), QStringList{QStringLiteral("com.zr.IMyDmm")});
    QVERIFY(b.dmm && b.serialDevice && b.rs232Vir);

    const PluginBinding none = scanPlugins(fixture(QStringLiteral("furthersuffix")));
    QCOMPARE(none.missing().size(), 4);
    QVERIFY(!none.complete());
}

void TestPluginScan::withoutLibTheApplicationFolderIsScanned()
{
    const QString appDir = fixture(QStringLiteral("nolib"));
    QVERIFY(!QDir(appDir).exists(QStringLiteral("Lib")));
    const PluginBinding b = scanPlugins(appDir);
    QCOMPARE(b.scannedDirectory, QDir(appDir).absolutePath());
    QVERIFY(b.complete());

    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const PluginBinding nothing = scanPlugins(empty.path());
    QCOMPARE(nothing.missing().size(), 4);
    QCOMPARE(nothing.scannedDirectory, QDir(empty.path()).absolutePath());

    const PluginBinding gone = scanPlugins(empty.filePath(QStringLiteral("does/not/exist")));
    QVERIFY(!gone.complete());
}

void TestPluginScan::junkBesideAPluginIsSkipped()
{
    const QString lib = fixture(QStringLiteral("junk/Lib"));
    for (const char *junk :
         {"a_notplugin.so", "b_truncated.so", "c_random.so", "d_unresolved.so", "z_text.so"})
        QVERIFY2(QFile::exists(lib + QLatin1Char('/') + QLatin1String(junk)), junk);
    const PluginBinding b = scanPlugins(fixture(QStringLiteral("junk")));
    QVERIFY(b.complete());
    QCOMPARE(b.dmm->object()->metaObject()->className(), "FakeMeter");
}

void TestPluginScan::damagedLibrariesAreSkipped()
{
    QFile source(fixture(QStringLiteral("fake/Lib/fakemeter.so")));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray plugin = source.readAll();
    // Large enough for every cut below to fall inside it, in any build type.
    QVERIFY(plugin.size() > 4 * 4096);

    QTemporaryDir app;
    QVERIFY(app.isValid());
    QVERIFY(QDir(app.path()).mkdir(QStringLiteral("Lib")));
    const QString lib = app.filePath(QStringLiteral("Lib"));

    // Cut at the ELF header, inside the program headers and in the middle.
    const QList<int> cuts = {0, 16, 64, 200, 4096, int(plugin.size() / 2)};
    for (int cut : cuts)
        QVERIFY(writeFile(lib + QStringLiteral("/cut%1.so").arg(cut), plugin.left(cut)));
    // Random bytes behind a valid ELF magic.
    QByteArray elfNoise = plugin.left(16);
    QRandomGenerator rng(930);
    for (int i = 0; i < 8192; ++i)
        elfNoise.append(char(rng.bounded(256)));
    QVERIFY(writeFile(lib + QStringLiteral("/noise.so"), elfNoise));
    const PluginBinding b = scanPlugins(app.path());
    QCOMPARE(b.missing().size(), 4);

    // Cut inside the section table at the end: the loader never reads it. Qt 5
    // looks for plugin metadata through it and skips the library; Qt 6 finds
    // the metadata through the intact program headers and loads it.
    QTemporaryDir tail;
    QVERIFY(tail.isValid() && QDir(tail.path()).mkdir(QStringLiteral("Lib")));
    QVERIFY(
        writeFile(tail.filePath(QStringLiteral("Lib/tail.so")), plugin.left(plugin.size() - 64)));
    const PluginBinding t = scanPlugins(tail.path());
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(t.missing().size(), 4);
#else
    QVERIFY(t.complete());
#endif
}

QTEST_GUILESS_MAIN(TestPluginScan)
#include "tst_pluginscan.moc"
