#include "settingsfile.h"

#include <QBuffer>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

namespace {
StoredSettings read(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return readSettingsFile(buffer);
}

QByteArray write(const QByteArray &geometry, const QByteArray &state, const QString &scene)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    const bool ok = writeSettingsFile(buffer, geometry, state, scene);
    return ok ? out : QByteArray();
}

QByteArray wrap(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<options>" + inner + "</options>\n";
}
} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void exactBytes();
    void emptyValues();
    void hexIsLowerCase();
    void roundTrip_data();
    void roundTrip();
    void roundTripOfRealWindow();
    void onlyOptionsChangesNothing_data();
    void onlyOptionsChangesNothing();
    void hexDecoding_data();
    void hexDecoding();
    void emptyOrBlankSceneFileNameIsNoValue_data();
    void emptyOrBlankSceneFileNameIsNoValue();
    void onlyFirstTextAfterStartCounts();
    void namesAreCaseSensitiveAndUnknownOnesSkipped();
    void malformedXmlKeepsWhatCameBefore();
    void everyTruncationIsSafe();
    void randomBytesAreSafe();
    void unreadableOrEmptyDevice();
    void unwritableDeviceReportsFailure();
    void fullDiskReportsFailure();
    void filePathBesideExecutable();
    void installedProgramKeepsTheFileInTheUserConfigFolder();
};

void TestSettingsFile::exactBytes()
{
    const QByteArray out = write(QByteArray::fromHex("01abff00"), QByteArray::fromHex("dead"),
                                 QStringLiteral("C:/shots/a & b <1>.jpg"));
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<options>\n"
        "    <Geometry>01abff00</Geometry>\n"
        "    <State>dead</State>\n"
        "    <SceneFileName>C:/shots/a &amp; b &lt;1&gt;.jpg</SceneFileName>\n"
        "</options>\n";
    QCOMPARE(out, expected);
}

void TestSettingsFile::emptyValues()
{
    const QByteArray out = write(QByteArray(), QByteArray(), QString());
    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<options>\n"
                                "    <Geometry></Geometry>\n"
                                "    <State></State>\n"
                                "    <SceneFileName></SceneFileName>\n"
                                "</options>\n";
    QCOMPARE(out, expected);
    const StoredSettings s = read(out);
    QVERIFY(!s.hasGeometry);
    QVERIFY(!s.hasState);
    QVERIFY(!s.hasSceneFileName);
}

void TestSettingsFile::hexIsLowerCase()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QByteArray out = write(all, all, QStringLiteral("x"));
    const int start = out.indexOf("<Geometry>") + 10;
    const QByteArray hex = out.mid(start, out.indexOf("</Geometry>") - start);
    QCOMPARE(hex.size(), 512);
    for (char c : hex)
        QVERIFY2((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'), hex.constData());
    QCOMPARE(hex.left(8), QByteArray("00010203"));
    QCOMPARE(hex.right(8), QByteArray("fcfdfeff"));
}

void TestSettingsFile::roundTrip_data()
{
    QTest::addColumn<QByteArray>("geometry");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("scene");

    QRandomGenerator rng(930);
    auto randomBytes = [&rng](int n) {
        QByteArray b(n, Qt::Uninitialized);
        for (char &c : b)
            c = char(rng.bounded(256));
        return b;
    };
    QTest::newRow("plain") << randomBytes(66) << randomBytes(40) << "C:/data/scene.jpg";
    QTest::newRow("xml specials") << randomBytes(1) << randomBytes(2) << "a&b<c>\"d\"'e'.jpg";
    QTest::newRow("non-latin") << randomBytes(3) << randomBytes(4)
                               << QString::fromUtf8("/home/λ/测量 1550nm.jpg");
    QTest::newRow("inner blanks kept") << randomBytes(5) << randomBytes(6) << " a b ";
    QTest::newRow("large state") << randomBytes(66) << randomBytes(20000) << "x";
}

void TestSettingsFile::roundTrip()
{
    QFETCH(QByteArray, geometry);
    QFETCH(QByteArray, state);
    QFETCH(QString, scene);
    const QByteArray out = write(geometry, state, scene);
    QVERIFY(!out.isEmpty());
    const StoredSettings s = read(out);
    QVERIFY(s.hasGeometry);
    QCOMPARE(s.geometry, geometry);
    QVERIFY(s.hasState);
    QCOMPARE(s.state, state);
    QVERIFY(s.hasSceneFileName);
    QCOMPARE(s.sceneFileName, scene);
}

void TestSettingsFile::roundTripOfRealWindow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("options.xml"));

    QMainWindow first;
    first.addToolBar(QStringLiteral("Main"))->setObjectName(QStringLiteral("mainToolBar"));
    auto *firstItem = new QToolBar(QStringLiteral("Item Tool"), &first);
    firstItem->setObjectName(QStringLiteral("itemToolBar"));
    first.addToolBar(Qt::LeftToolBarArea, firstItem);
    first.setGeometry(40, 50, 640, 480);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(writeSettingsFile(file, first.saveGeometry(), first.saveState(0),
                                  QStringLiteral("scene.jpg")));
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const StoredSettings s = readSettingsFile(file);
    QVERIFY(s.hasGeometry && s.hasState);

    QMainWindow second;
    second.addToolBar(QStringLiteral("Main"))->setObjectName(QStringLiteral("mainToolBar"));
    auto *item = second.addToolBar(QStringLiteral("Item Tool"));
    item->setObjectName(QStringLiteral("itemToolBar"));
    QVERIFY(second.restoreGeometry(s.geometry));
    QVERIFY(second.restoreState(s.state, 0));
    QCOMPARE(second.toolBarArea(item), Qt::LeftToolBarArea);
    QCOMPARE(second.size(), QSize(640, 480));
}

void TestSettingsFile::onlyOptionsChangesNothing_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty options") << QByteArray("<?xml version=\"1.0\"?><options/>");
    QTest::newRow("options with blanks") << QByteArray("<options>\n    \n</options>");
    QTest::newRow("options with text") << QByteArray("<options>0102</options>");
    QTest::newRow("empty elements")
        << QByteArray("<options><Geometry/><State></State><SceneFileName/></options>");
    QTest::newRow("nothing at all") << QByteArray();
}

void TestSettingsFile::onlyOptionsChangesNothing()
{
    QFETCH(QByteArray, xml);
    const StoredSettings s = read(xml);
    QVERIFY(!s.hasGeometry);
    QVERIFY(!s.hasState);
    QVERIFY(!s.hasSceneFileName);
    QVERIFY(s.geometry.isEmpty() && s.state.isEmpty() && s.sceneFileName.isEmpty());
}

void TestSettingsFile::hexDecoding_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lower") << QByteArray("01abff") << QByteArray("\x01\xab\xff", 3);
    QTest::newRow("upper") << QByteArray("01ABFF") << QByteArray("\x01\xab\xff", 3);
    QTest::newRow("mixed") << QByteArray("aBcD") << QByteArray("\xab\xcd", 2);
    QTest::newRow("separators skipped")
        << QByteArray("01:ab zz-FF\n\t0 0") << QByteArray("\x01\xab\xff\x00", 4);
    QTest::newRow("odd digit dropped") << QByteArray("abc") << QByteArray("\xab", 1);
    QTest::newRow("no digits") << QByteArray("xyz") << QByteArray();
    QTest::newRow("entity digits") << QByteArray("&#x41;&#x42;") << QByteArray("\xab", 1);
}

void TestSettingsFile::hexDecoding()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    const StoredSettings s =
        read(wrap("<Geometry>" + text + "</Geometry><State>" + text + "</State>"));
    QVERIFY(s.hasGeometry);
    QCOMPARE(s.geometry, bytes);
    QVERIFY(s.hasState);
    QCOMPARE(s.state, bytes);
}

void TestSettingsFile::emptyOrBlankSceneFileNameIsNoValue_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::newRow("open and close") << QByteArray("<SceneFileName></SceneFileName>");
    QTest::newRow("self-closing") << QByteArray("<SceneFileName/>");
    QTest::newRow("blanks") << QByteArray("<SceneFileName>   </SceneFileName>");
    QTest::newRow("line breaks and tabs") << QByteArray("<SceneFileName>\n\t\r\n</SceneFileName>");
}

void TestSettingsFile::emptyOrBlankSceneFileNameIsNoValue()
{
    QFETCH(QByteArray, element);
    const StoredSettings s = read(wrap("<Geometry>0102</Geometry>" + element));
    QVERIFY(!s.hasSceneFileName);
    QVERIFY(s.sceneFileName.isEmpty());
    QVERIFY(s.hasGeometry);
}

void TestSettingsFile::onlyFirstTextAfterStartCounts()
{
    // A blank run before a child element does not use up the turn, but the
    // child takes it over, so its text is not read as geometry.
    StoredSettings s = read(wrap("<Geometry>\n  <x/>0102</Geometry>"));
    QVERIFY(!s.hasGeometry);

    // Blanks around the value are part of the first non-blank text.
    s = read(wrap("<SceneFileName> a.jpg </SceneFileName>"));
    QCOMPARE(s.sceneFileName, QStringLiteral(" a.jpg "));

    // Entity references do not split the text.
    s = read(wrap("<SceneFileName>a&amp;b&lt;c</SceneFileName>"));
    QCOMPARE(s.sceneFileName, QStringLiteral("a&b<c"));

    // A later element of the same name is read again.
    s = read(wrap("<State>01</State><State>02</State>"));
    QCOMPARE(s.state, QByteArray("\x02", 1));
}

void TestSettingsFile::namesAreCaseSensitiveAndUnknownOnesSkipped()
{
    const StoredSettings s = read(wrap("<geometry>0102</geometry>"
                                       "<STATE>0304</STATE>"
                                       "<Window><Size>800</Size></Window>"
                                       "<Unknown attr=\"1\">0506</Unknown>"
                                       "<State>0708</State>"
                                       "<scenefilename>no.jpg</scenefilename>"));
    QVERIFY(!s.hasGeometry);
    QVERIFY(s.hasState);
    QCOMPARE(s.state, QByteArray("\x07\x08", 2));
    QVERIFY(!s.hasSceneFileName);
}

void TestSettingsFile::malformedXmlKeepsWhatCameBefore()
{
    StoredSettings s = read("<options><Geometry>0102</Geometry><State>0a0b</State>"
                            "<Bad attr=></Bad><SceneFileName>late.jpg</SceneFileName></options>");
    QCOMPARE(s.geometry, QByteArray("\x01\x02", 2));
    QCOMPARE(s.state, QByteArray("\x0a\x0b", 2));
    QVERIFY(!s.hasSceneFileName);

    s = read("<options><Geometry>0102</Geometry></options><State>0304</State>");
    QVERIFY(s.hasGeometry);
    QVERIFY(!s.hasState);

    s = read("<options><Geometry>0102</Geometry><State>0304</Geo");
    QVERIFY(s.hasGeometry);
}

void TestSettingsFile::everyTruncationIsSafe()
{
    const QByteArray geometry = QByteArray::fromHex("01d9d0cb000300000000");
    const QByteArray state = QByteArray::fromHex("000000ff00000000fd");
    const QString scene = QStringLiteral("C:/a&b/scene.jpg");
    const QByteArray full = write(geometry, state, scene);
    for (int length = 0; length <= full.size(); ++length) {
        const StoredSettings s = read(full.left(length));
        // A value is only ever taken whole: a cut-off text is never read.
        if (s.hasGeometry)
            QCOMPARE(s.geometry, geometry);
        if (s.hasState)
            QCOMPARE(s.state, state);
        if (s.hasSceneFileName)
            QCOMPARE(s.sceneFileName, scene);
    }
    QVERIFY(read(full).hasSceneFileName);
}

void TestSettingsFile::randomBytesAreSafe()
{
    QRandomGenerator rng(0x930);
    const QByteArray valid =
        write(QByteArray(40, '\x5a'), QByteArray(30, '\x11'), QStringLiteral("x.jpg"));
    int withValues = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes = valid;
        const int flips = 1 + int(rng.bounded(8));
        for (int f = 0; f < flips; ++f)
            bytes[int(rng.bounded(bytes.size()))] = char(rng.bounded(256));
        const StoredSettings s = read(bytes);
        if (s.hasGeometry || s.hasState || s.hasSceneFileName)
            ++withValues;
        QVERIFY(s.hasGeometry || s.geometry.isEmpty());
        QVERIFY(s.hasState || s.state.isEmpty());
        QVERIFY(s.hasSceneFileName || s.sceneFileName.isEmpty());
    }
    QVERIFY(withValues > 0);
    for (int i = 0; i < 500; ++i) {
        QByteArray noise(int(rng.bounded(200)), Qt::Uninitialized);
        for (char &c : noise)
            c = char(rng.bounded(256));
        read(noise);
        read("<options><SceneFileName>" + noise);
    }
}

void TestSettingsFile::unreadableOrEmptyDevice()
{
    QBuffer closed;
    StoredSettings s = readSettingsFile(closed);
    QVERIFY(!s.hasGeometry && !s.hasState && !s.hasSceneFileName);

    QFile missing(QStringLiteral("/nonexistent-dir/options.xml"));
    QVERIFY(!missing.open(QIODevice::ReadOnly));
    s = readSettingsFile(missing);
    QVERIFY(!s.hasGeometry && !s.hasState && !s.hasSceneFileName);
}

void TestSettingsFile::unwritableDeviceReportsFailure()
{
    QByteArray data("unchanged");
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QVERIFY(!writeSettingsFile(buffer, "g", "s", QStringLiteral("x")));
    QCOMPARE(data, QByteArray("unchanged"));

    QBuffer closed;
    QVERIFY(!writeSettingsFile(closed, "g", "s", QStringLiteral("x")));
}

void TestSettingsFile::fullDiskReportsFailure()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    QFile full(QStringLiteral("/dev/full"));
    QVERIFY(full.open(QIODevice::WriteOnly));
    QVERIFY(!writeSettingsFile(full, QByteArray(100, 'g'), "s", QStringLiteral("x")));
}

void TestSettingsFile::filePathBesideExecutable()
{
    QCOMPARE(settingsFilePath(), QCoreApplication::applicationDirPath() + "/options.xml");
}

void TestSettingsFile::installedProgramKeepsTheFileInTheUserConfigFolder()
{
    // A writable program folder, as root has under /usr: beside the program
    // only until the installation's marker is there.
    QStandardPaths::setTestModeEnabled(true);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QTemporaryDir program;
    QCOMPARE(settingsFilePath(program.path()), program.filePath(QStringLiteral("options.xml")));
    QFile marker(program.filePath(QLatin1String(kInstalledMarker)));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QCOMPARE(settingsFilePath(program.path()), config + QStringLiteral("/options.xml"));
    QVERIFY(QFileInfo(config).isDir());
    QDir(config).removeRecursively();
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
