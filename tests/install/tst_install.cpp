// The build tree installed into a temporary prefix: the layout a user and a
// meter maker find, and a driver built out of tree against the installed
// package that the installed program, started through its command link, loads.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        const QString &workingDirectory = QString(), int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Run result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    process.waitForFinished(5000);
    result.output = QString::fromLocal8Bit(process.readAll());
    if (result.finished && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

Run cmake(const QStringList &arguments)
{
    return run(QStringLiteral(KV930_CMAKE_COMMAND), arguments);
}

// The keys of a desktop entry's [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line.trimmed() == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void programAndDriversUnderLib_data();
    void programAndDriversUnderLib();
    void commandLinkPointsAtTheProgram();
    void desktopEntryStartsTheInstalledCommand();
    void driverKitIsComplete();
    void packageRefusesAnotherMajorVersion();
    void outOfTreeDriverBuildsAndInstallsIntoLib();
    void installedProgramLoadsTheDriverThroughItsCommand();

private:
    QString path(const QString &relative) const { return m_prefix + QLatin1Char('/') + relative; }
    QTemporaryDir m_work;
    // A blank in the prefix, as in many real install folders.
    QString m_prefix;
    bool m_driverInstalled = false;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_work.isValid());
    m_prefix = m_work.filePath(QStringLiteral("kv930 prefix"));
    const Run install = cmake({QStringLiteral("--install"), QStringLiteral(KV930_BUILD_DIR),
                               QStringLiteral("--prefix"), m_prefix});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
}

void TestInstall::programAndDriversUnderLib_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");
    QTest::newRow("program") << "lib/kv930/kv930" << true;
    QTest::newRow("virtual meter") << "lib/kv930/Lib/virtualmeter.so" << false;
    QTest::newRow("pm100 driver") << "lib/kv930/Lib/pm100.so" << false;
    QTest::newRow("n774x driver") << "lib/kv930/Lib/n774x.so" << false;
    QTest::newRow("usbtmc udev rule") << "lib/udev/rules.d/70-kv930-usbtmc.rules" << false;
    QTest::newRow("manual") << "lib/kv930/Software User Manual.pdf" << false;
    QTest::newRow("icon png") << "share/icons/hicolor/32x32/apps/kv930.png" << false;
    QTest::newRow("icon svg") << "share/icons/hicolor/scalable/apps/kv930.svg" << false;
}

void TestInstall::programAndDriversUnderLib()
{
    QFETCH(QString, file);
    QFETCH(bool, executable);
    const QFileInfo info(path(file));
    QVERIFY2(info.isFile() && info.size() > 0, qPrintable(info.filePath()));
    if (executable)
        QVERIFY(info.isExecutable());
    if (file.endsWith(QLatin1String(".png")))
        QCOMPARE(QImage(info.filePath()).size(), QSize(32, 32));
    if (file.endsWith(QLatin1String(".pdf"))) {
        const Run pdf = run(QStringLiteral("pdfinfo"), {info.filePath()});
        QCOMPARE(pdf.exitCode, 0);
        QVERIFY(pdf.output.contains(QLatin1String("(A4)")));
    }
}

void TestInstall::commandLinkPointsAtTheProgram()
{
    const QFileInfo link(path(QStringLiteral("bin/kv930")));
    QVERIFY(link.isSymLink());
    // Relative, so the installed tree can be moved as a whole.
    QCOMPARE(QFile::symLinkTarget(link.filePath()),
             QFileInfo(path(QStringLiteral("lib/kv930/kv930"))).canonicalFilePath());
    QCOMPARE(link.canonicalFilePath(),
             QFileInfo(path(QStringLiteral("lib/kv930/kv930"))).canonicalFilePath());
    const Run readlink = run(QStringLiteral("readlink"), {link.filePath()});
    QCOMPARE(readlink.output.trimmed(), QStringLiteral("../lib/kv930/kv930"));
}

void TestInstall::desktopEntryStartsTheInstalledCommand()
{
    const QMap<QString, QString> entry =
        desktopEntry(path(QStringLiteral("share/applications/kv930.desktop")));
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("KV930"));
    QCOMPARE(entry.value(QStringLiteral("Terminal")), QStringLiteral("false"));
    QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("kv930"));
    // The prefix holds a blank, so the command must be quoted to stay one word.
    const QString exec = entry.value(QStringLiteral("Exec"));
    QCOMPARE(exec, QLatin1Char('"') + path(QStringLiteral("bin/kv930")) + QLatin1Char('"'));
    QVERIFY(QFileInfo(path(QStringLiteral("bin/kv930"))).isExecutable());
    QVERIFY(entry.value(QStringLiteral("Categories")).endsWith(QLatin1Char(';')));
}

void TestInstall::driverKitIsComplete()
{
    for (const char *name :
         {"idmm.h", "imydmm.h", "serialdeviceinf.h", "serialrs232virinf.h", "dmmdata.h",
          "dmmdata.cpp", "serialportdevice.h", "serialportfinder.h", "imeterdriver.h",
          "scpitransport.h", "serialscpitransport.h", "tcpscpitransport.h", "usbtmctransport.h"}) {
        const QString installed = path(QStringLiteral("include/kv930/") + QLatin1String(name));
        QVERIFY2(QFileInfo(installed).isFile(), name);
    }
    // The installed record is the program's own, byte for byte: drivers and the
    // program must agree on its layout.
    for (const char *name : {"data/dmmdata.h", "data/dmmdata.cpp", "meter/idmm.h"}) {
        QFile source(QStringLiteral(KV930_SOURCE_DIR "/") + QLatin1String(name));
        QFile installed(
            path(QStringLiteral("include/kv930/") + QFileInfo(QLatin1String(name)).fileName()));
        QVERIFY(source.open(QIODevice::ReadOnly) && installed.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), source.readAll());
    }
    QVERIFY(QFileInfo(path(QStringLiteral("lib/libkv930serial.a"))).size() > 0);
    QVERIFY(QFileInfo(path(QStringLiteral("lib/libkv930scpi.a"))).size() > 0);
    for (const char *name : {"Kv930Config.cmake", "Kv930ConfigVersion.cmake", "Kv930Plugin.cmake",
                             "Kv930Targets.cmake"})
        QVERIFY2(QFileInfo(path(QStringLiteral("lib/cmake/Kv930/") + QLatin1String(name))).isFile(),
                 name);
}

void TestInstall::packageRefusesAnotherMajorVersion()
{
    QTemporaryDir project;
    QVERIFY(project.isValid());
    QFile list(project.filePath(QStringLiteral("CMakeLists.txt")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("cmake_minimum_required(VERSION 3.16)\nproject(v LANGUAGES NONE)\n"
               "find_package(Kv930 2.0 REQUIRED)\n");
    list.close();
    const Run configure = cmake({QStringLiteral("-S"), project.path(), QStringLiteral("-B"),
                                 project.filePath(QStringLiteral("build")),
                                 QStringLiteral("-DCMAKE_PREFIX_PATH=") + m_prefix});
    QVERIFY(configure.exitCode != 0);
    QVERIFY2(configure.output.contains(QLatin1String("Kv930ConfigVersion.cmake")) ||
                 configure.output.contains(QLatin1String("version")),
             qPrintable(configure.output));
}

void TestInstall::outOfTreeDriverBuildsAndInstallsIntoLib()
{
    const QString build = m_work.filePath(QStringLiteral("driver build"));
    const Run configure = cmake(
        {QStringLiteral("-S"), QStringLiteral(KV930_SOURCE_DIR "/tests/install/sample-driver"),
         QStringLiteral("-B"), build, QStringLiteral("-G"), QStringLiteral(KV930_CMAKE_GENERATOR),
         QStringLiteral("-DCMAKE_MAKE_PROGRAM=" KV930_MAKE_PROGRAM),
         QStringLiteral("-DCMAKE_CXX_COMPILER=" KV930_CXX_COMPILER),
         QStringLiteral("-DCMAKE_BUILD_TYPE=Debug"),
         QStringLiteral("-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"),
         QStringLiteral("-DCMAKE_PREFIX_PATH=") + m_prefix});
    QVERIFY2(configure.exitCode == 0, qPrintable(configure.output));

    const Run compile =
        cmake({QStringLiteral("--build"), build, QStringLiteral("-j"), QStringLiteral("2")});
    QVERIFY2(compile.exitCode == 0, qPrintable(compile.output));
    // Built without the "lib" prefix into the driver project's own Lib folder.
    QVERIFY(QFileInfo(build + QStringLiteral("/Lib/sampledriver.so")).isFile());
    // The record was compiled from the installed copy and nothing came from this
    // source tree: a meter maker has only the installed kit.
    QFile commands(build + QStringLiteral("/compile_commands.json"));
    QVERIFY(commands.open(QIODevice::ReadOnly));
    const QJsonArray entries = QJsonDocument::fromJson(commands.readAll()).array();
    QVERIFY(entries.size() >= 2);
    bool installedRecord = false;
    for (const QJsonValue &entry : entries) {
        const QString file = QFileInfo(entry[QStringLiteral("file")].toString()).absoluteFilePath();
        const QString command = entry[QStringLiteral("command")].toString();
        installedRecord |= file == path(QStringLiteral("include/kv930/dmmdata.cpp"));
        for (const char *folder : {"/data", "/meter"}) {
            const QString tree = QStringLiteral(KV930_SOURCE_DIR) + QLatin1String(folder);
            QVERIFY2(!file.startsWith(tree) && !command.contains(tree), qPrintable(command));
        }
    }
    QVERIFY(installedRecord);

    const Run install = cmake({QStringLiteral("--install"), build});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    QVERIFY(QFileInfo(path(QStringLiteral("lib/kv930/Lib/sampledriver.so"))).isFile());
    m_driverInstalled = true;
}

void TestInstall::installedProgramLoadsTheDriverThroughItsCommand()
{
    QVERIFY(m_driverInstalled);
    // Only the sample driver may bind.
    QVERIFY(QFile::remove(path(QStringLiteral("lib/kv930/Lib/virtualmeter.so"))));
    const QString options = path(QStringLiteral("lib/kv930/options.xml"));
    QVERIFY(!QFile::exists(options));

    const QString log = m_work.filePath(QStringLiteral("driver.log"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KV930_SAMPLE_DRIVER_LOG"), log);
    // Started from another folder, through the link in bin.
    const Run program = run(path(QStringLiteral("bin/kv930")), {}, env, m_work.path(), 60000);
    QVERIFY2(program.finished, qPrintable(program.output));
    QVERIFY2(program.exitCode == 0, qPrintable(program.output));

    const QStringList lines = readLines(log);
    QVERIFY2(!lines.isEmpty(), qPrintable(program.output));
    // The program saw its own folder, not the link's, and found Lib there.
    QCOMPARE(lines.value(0), QStringLiteral("loaded ") +
                                 QFileInfo(path(QStringLiteral("lib/kv930"))).canonicalFilePath());
    // It asked the driver for the meter's converter at start-up ...
    QVERIFY2(lines.contains(QStringLiteral("findPort 1a86 7523")), qPrintable(lines.join('|')));
    // ... took a live reading, and closed the link when its window closed.
    QVERIFY(lines.contains(QStringLiteral("display")));
    QVERIFY(lines.contains(QStringLiteral("closed windows 1")));
    QVERIFY(lines.indexOf(QStringLiteral("close")) > lines.indexOf(QStringLiteral("display")));

    // Closing saved the window's settings beside the (writable) program.
    QFile file(options);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int elements = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement)
            ++elements;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(elements >= 2);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
