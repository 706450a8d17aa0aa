// The Debian packages of this build, as a user meets them: made by
// scripts/package.sh, checked by lintian, unpacked into a scratch root with
// dpkg -x, and the program started from there with the virtual meter.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Run
{
    int status = -1; // -1: crashed or did not finish
    QString out;
    QString err;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(240000);
    if (!finished)
        process.kill();
    process.waitForFinished(5000);
    Run r;
    r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(process.readAllStandardError());
    if (finished && process.exitStatus() == QProcess::NormalExit)
        r.status = process.exitCode();
    return r;
}

// True once the process has its SIGTERM handler (the kernel lists it as caught).
bool catchesSigterm(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
    return false;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lintianReportsNoErrors();
    void dependenciesComeFromTheLibraries();
    void contentsAreSplitBetweenProgramAndKit_data();
    void contentsAreSplitBetweenProgramAndKit();
    void metadataValidates();
    void programRunsFromTheScratchRoot();

private:
    QString deb(const QString &name) const
    {
        return m_work.filePath(name + QStringLiteral("_" KV930_VERSION "_") + m_arch +
                               QStringLiteral(".deb"));
    }
    QString root(const QString &path) const { return m_root + QLatin1Char('/') + path; }
    QString field(const QString &package, const QString &name) const
    {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb(package), name})
            .out.trimmed();
    }

    QTemporaryDir m_work;
    QString m_arch;
    QString m_root;
};

void TestPackage::initTestCase()
{
    QVERIFY(m_work.isValid());
    m_arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
    QVERIFY(!m_arch.isEmpty());
    const Run package =
        run(QStringLiteral(KV930_SOURCE_DIR "/scripts/package.sh"),
            {QStringLiteral("--build-dir"), QStringLiteral(KV930_BUILD_DIR),
             QStringLiteral("--out"), m_work.path(), QStringLiteral("--no-checks")});
    QVERIFY2(package.status == 0, qPrintable(package.out + package.err));
    for (const QString &name : {QStringLiteral("kv930"), QStringLiteral("kv930-dev")})
        QVERIFY2(QFileInfo(deb(name)).size() > 0, qPrintable(deb(name)));

    // Both packages unpacked into one scratch root, as dpkg would install them.
    m_root = m_work.filePath(QStringLiteral("root"));
    for (const QString &name : {QStringLiteral("kv930"), QStringLiteral("kv930-dev")}) {
        const Run x = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb(name), m_root});
        QVERIFY2(x.status == 0, qPrintable(x.err));
    }
}

void TestPackage::lintianReportsNoErrors()
{
    const Run lint =
        run(QStringLiteral("lintian"),
            {QStringLiteral("--fail-on"), QStringLiteral("error"), deb("kv930"), deb("kv930-dev")});
    QVERIFY2(lint.status == 0, qPrintable(lint.out + lint.err));
    QVERIFY2(!lint.out.contains(QLatin1String("E: ")), qPrintable(lint.out));
}

void TestPackage::dependenciesComeFromTheLibraries()
{
    // dpkg-shlibdeps names the library packages with the versions we need.
    const QString depends = field(QStringLiteral("kv930"), QStringLiteral("Depends"));
    const QString qt = QStringLiteral("libqt%1").arg(KV930_QT_MAJOR);
    for (const QString &library :
         {qt + QStringLiteral("core"), qt + QStringLiteral("gui"), qt + QStringLiteral("widgets"),
          qt + QStringLiteral("serialport"), QStringLiteral("libc6 (>= "),
          QStringLiteral("libfreexl1"), QStringLiteral("libgsf-1-114")})
        QVERIFY2(depends.contains(library), qPrintable(library + QStringLiteral(": ") + depends));
    const QString kit = field(QStringLiteral("kv930-dev"), QStringLiteral("Depends"));
    QVERIFY2(kit.contains(QStringLiteral("kv930 (= " KV930_VERSION ")")), qPrintable(kit));
}

void TestPackage::contentsAreSplitBetweenProgramAndKit_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("program") << "kv930"
                             << QStringList{"usr/bin/kv930",
                                            "usr/lib/kv930/kv930",
                                            "usr/lib/kv930/Lib/virtualmeter.so",
                                            "usr/lib/kv930/Lib/pm100.so",
                                            "usr/lib/kv930/Lib/n774x.so",
                                            "usr/lib/udev/rules.d/70-kv930-usbtmc.rules",
                                            "usr/lib/kv930/Software User Manual.pdf",
                                            "usr/share/applications/kv930.desktop",
                                            "usr/share/icons/hicolor/32x32/apps/kv930.png",
                                            "usr/share/icons/hicolor/scalable/apps/kv930.svg",
                                            "usr/share/metainfo/com.kv930.KV930.metainfo.xml",
                                            "usr/share/man/man1/kv930.1.gz",
                                            "usr/share/doc/kv930/copyright"};
    QTest::newRow("kit") << "kv930-dev"
                         << QStringList{"usr/include/kv930/idmm.h",
                                        "usr/include/kv930/dmmdata.cpp",
                                        "usr/include/kv930/serialportdevice.h",
                                        "usr/include/kv930/serialportfinder.h",
                                        "usr/lib/libkv930serial.a",
                                        "usr/include/kv930/imeterdriver.h",
                                        "usr/include/kv930/scpitransport.h",
                                        "usr/lib/libkv930scpi.a",
                                        "usr/lib/cmake/Kv930/Kv930Config.cmake",
                                        "usr/lib/cmake/Kv930/Kv930Targets.cmake",
                                        "usr/share/doc/kv930-dev/copyright"};
}

void TestPackage::contentsAreSplitBetweenProgramAndKit()
{
    QFETCH(QString, package);
    QFETCH(QStringList, files);
    QStringList listed;
    for (const QString &line : run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb(package)})
                                   .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // "-rw-r--r-- root/root 123 date time ./usr/..." (a link adds " -> target")
        const int at = line.indexOf(QLatin1String(" ./"));
        QVERIFY(line.contains(QLatin1String(" root/root ")));
        listed << line.mid(at + 3).section(QLatin1String(" -> "), 0, 0);
    }
    for (const QString &file : files) {
        QVERIFY2(listed.contains(file), qPrintable(file));
        QVERIFY2(QFileInfo(root(file)).size() > 0, qPrintable(root(file)));
    }
    // Nothing of the kit in the program's package, and the other way round.
    const QString other = package == QLatin1String("kv930") ? QStringLiteral("usr/include")
                                                            : QStringLiteral("usr/lib/kv930");
    for (const QString &file : listed)
        QVERIFY2(!file.startsWith(other), qPrintable(file));
    if (package == QLatin1String("kv930")) {
        QCOMPARE(QFile::symLinkTarget(root(QStringLiteral("usr/bin/kv930"))),
                 root(QStringLiteral("usr/lib/kv930/kv930")));
        QVERIFY(QFileInfo(root(QStringLiteral("usr/lib/kv930/kv930"))).isExecutable());
    }
}

void TestPackage::metadataValidates()
{
    const Run appstream =
        run(QStringLiteral("appstreamcli"),
            {QStringLiteral("validate"), QStringLiteral("--no-net"),
             root(QStringLiteral("usr/share/metainfo/com.kv930.KV930.metainfo.xml"))});
    QVERIFY2(appstream.status == 0, qPrintable(appstream.out + appstream.err));
    const QString desktop = root(QStringLiteral("usr/share/applications/kv930.desktop"));
    const Run entry = run(QStringLiteral("desktop-file-validate"), {desktop});
    QVERIFY2(entry.status == 0 && entry.out.isEmpty(), qPrintable(entry.out + entry.err));
    QFile file(desktop);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\nExec=/usr/bin/kv930\n"));
}

void TestPackage::programRunsFromTheScratchRoot()
{
    const QString program = root(QStringLiteral("usr/bin/kv930"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    // The journal and settings go to the scratch root, never the user's home.
    env.insert(QStringLiteral("XDG_DATA_HOME"), root(QStringLiteral("home/data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root(QStringLiteral("home/config")));
    const Run version = run(program, {QStringLiteral("--version")}, env);
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("kv930 " KV930_VERSION "\n"));

    // Started through the command link; the packaged virtual meter is its only driver.
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, QStringList());
    QVERIFY(process.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(
        catchesSigterm(process.processId()) || process.state() != QProcess::Running, 60000);
    QVERIFY2(process.state() == QProcess::Running, process.readAllStandardError().constData());
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, qPrintable(err));
    // All four driver interfaces were bound, from the scratch root's Lib ...
    QVERIFY2(!err.contains(QLatin1String("incomplete")), qPrintable(err));
    // ... and the window, closed by its normal path, kept its settings beside
    // the program it really ran as (the scratch root is writable).
    QVERIFY(QFile::exists(root(QStringLiteral("usr/lib/kv930/options.xml"))));
    QVERIFY(QFile::exists(root(QStringLiteral("home/data/kv930/journal.sqlite"))));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
