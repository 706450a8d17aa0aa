// The command line: what the parser makes of arguments, what the program prints
// and returns for them (without a display), which driver folder it binds, and
// the import it runs once its window is up.
#include "commandline.h"
#include "datamodel.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

Q_DECLARE_METATYPE(CommandLine::Outcome)

namespace {

using Outcome = CommandLine::Outcome;

struct Run
{
    int status = -1; // -1: crashed or never finished
    QString out;
    QString err;
};

// The program, started and left to finish by itself or, with endBySignal, by
// a SIGTERM once it has taken its signal handler.
Run runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
               bool endBySignal = false)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    if (endBySignal) {
        // The handler is in place once the kernel lists SIGTERM as caught.
        auto caught = [&process] {
            QFile file(QStringLiteral("/proc/%1/status").arg(process.processId()));
            if (!file.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : file.readAll().split('\n'))
                if (line.startsWith("SigCgt:"))
                    return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) &
                            1) != 0;
            return false;
        };
        QElapsedTimer clock;
        clock.start();
        while (!caught() && process.state() == QProcess::Running && clock.elapsed() < 60000)
            QTest::qWait(20);
        ::kill(pid_t(process.processId()), SIGTERM);
    }
    const bool finished = process.waitForFinished(60000);
    if (!finished)
        process.kill();
    process.waitForFinished(5000);
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    if (finished && process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    return run;
}

// A program folder of its own: a copy of the program, with or without drivers.
bool copyProgram(const QTemporaryDir &dir, bool withDrivers)
{
    if (!QFile::copy(QStringLiteral(KV930_PROGRAM), dir.filePath(QStringLiteral("kv930"))))
        return false;
    return !withDrivers || installVirtualMeter(dir, QByteArray());
}

// The program on the offscreen platform, its journal and settings in a
// folder of the test's (home or not, the user's own are never touched).
QProcessEnvironment offscreen(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    return env;
}

StartOptions importing(const QString &file)
{
    StartOptions options;
    options.importFile = file;
    return options;
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void programAnswersWithoutADisplay_data();
    void programAnswersWithoutADisplay();
    void driversFolderReplacesLib();
    void importRunsOnceTheWindowIsUp();
    void noJournalKeepsNone();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("drivers");
    QTest::addColumn<QString>("import");
    const QString d = QStringLiteral("/opt/meters");
    const QString f = QStringLiteral("/tmp/a b.xls");

    QTest::newRow("none") << QStringList() << Outcome::Run << QString() << QString();
    QTest::newRow("--help") << QStringList{"--help"} << Outcome::Help << QString() << QString();
    QTest::newRow("-h") << QStringList{"-h"} << Outcome::Help << QString() << QString();
    QTest::newRow("--version") << QStringList{"--version"} << Outcome::Version << QString()
                               << QString();
    QTest::newRow("-v") << QStringList{"-v"} << Outcome::Version << QString() << QString();
    QTest::newRow("both values") << QStringList{"--drivers", d, "--import=" + f} << Outcome::Run
                                 << d << f;
    QTest::newRow("--no-journal") << QStringList{"--no-journal", "--drivers", d} << Outcome::Run
                                  << d << QString();
    QTest::newRow("Qt's own options")
        << QStringList{"-platform", "offscreen", "-style", "fusion", "-reverse", "--drivers", d}
        << Outcome::Run << d << QString();
    QTest::newRow("unknown long") << QStringList{"--bogus"} << Outcome::UsageError << QString()
                                  << QString();
    QTest::newRow("unknown short")
        << QStringList{"-x"} << Outcome::UsageError << QString() << QString();
    QTest::newRow("missing value")
        << QStringList{"--import"} << Outcome::UsageError << QString() << QString();
    QTest::newRow("empty folder") << QStringList{"--drivers", ""} << Outcome::UsageError
                                  << QString() << QString();
    QTest::newRow("stray argument")
        << QStringList{f} << Outcome::UsageError << QString() << QString();
    QTest::newRow("window meter") << QStringList{"--meter", "pm100@/dev/usbtmc0", "--rate", "20"}
                                  << Outcome::Run << QString() << QString();
    QTest::newRow("window, two meters") << QStringList{"--meter", "virtual", "--meter", "virtual"}
                                        << Outcome::UsageError << QString() << QString();
    QTest::newRow("rate zero") << QStringList{"--rate", "0"} << Outcome::UsageError << QString()
                               << QString();
    QTest::newRow("wavelength 15")
        << QStringList{"--wavelength", "15"} << Outcome::UsageError << QString() << QString();
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Outcome, outcome);
    QFETCH(QString, drivers);
    QFETCH(QString, import);
    const CommandLine c = parseCommandLine(QStringList{QStringLiteral("kv930")} + arguments);
    QCOMPARE(c.outcome, outcome);
    QCOMPARE(c.options.driverFolder, drivers);
    QCOMPARE(c.options.importFile, import);
    QCOMPARE(c.error.isEmpty(), outcome != Outcome::UsageError);
    QCOMPARE(c.noJournal, arguments.contains(QStringLiteral("--no-journal")));
    if (outcome == Outcome::Run && arguments.contains(QStringLiteral("--meter"))) {
        QCOMPARE(c.options.meter, arguments.at(arguments.indexOf(QStringLiteral("--meter")) + 1));
        QCOMPARE(c.options.meterOptions.readingsPerSecond, 20.0);
    }
}

void TestCommandLine::programAnswersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--import <file>"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "kv930 1.0\n"
                             << "";
    QTest::newRow("unknown") << QStringList{"--bogus"} << 2 << ""
                             << "Unknown option 'bogus'";
    QTest::newRow("missing value") << QStringList{"--drivers"} << 2 << ""
                                   << "Missing value";
}

void TestCommandLine::programAnswersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    // With the X11 platform and no display, making a window would abort.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const Run run = runProgram(QStringLiteral(KV930_PROGRAM), arguments, env);
    QCOMPARE(run.status, status);
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (status == 2) {
        // The usage follows the error, on standard error only.
        QVERIFY(run.err.contains(QLatin1String("--drivers <folder>")));
        QVERIFY(run.out.isEmpty());
    }
    if (arguments == QStringList{"--help"}) {
        QVERIFY(run.out.startsWith(QLatin1String("Usage: ")));
        QVERIFY(run.out.contains(QLatin1String("--drivers <folder>")));
        QVERIFY(run.out.contains(QLatin1String("(.xls, .xlsx or CSV)")));
        QVERIFY(!run.out.contains(QLatin1String("platform"))); // Qt's options stay hidden
    }
}

void TestCommandLine::driversFolderReplacesLib()
{
    // A program folder without drivers binds the virtual meter from the folder named.
    QTemporaryDir bare;
    QTemporaryDir meters;
    QVERIFY(copyProgram(bare, false) && installVirtualMeter(meters, QByteArray()));
    const QString lib = meters.filePath(QStringLiteral("Lib"));
    Run run = runProgram(bare.filePath(QStringLiteral("kv930")), {QStringLiteral("--drivers"), lib},
                         offscreen(bare.path()), true);
    QCOMPARE(run.status, 0);
    QVERIFY2(!run.err.contains(QLatin1String("incomplete")), qPrintable(run.err));
    // SIGTERM closed the window by its normal path: the settings were saved.
    QVERIFY(QFile::exists(bare.filePath(QStringLiteral("options.xml"))));

    // A program folder with a complete Lib, told to look elsewhere, looks only there.
    QTemporaryDir complete;
    QTemporaryDir empty;
    QVERIFY(copyProgram(complete, true));
    run = runProgram(complete.filePath(QStringLiteral("kv930")),
                     {QStringLiteral("--drivers"), empty.path()}, offscreen(complete.path()), true);
    QVERIFY2(run.status >= 0, qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("The meter driver is incomplete")) &&
                 run.err.contains(QDir::toNativeSeparators(QDir(empty.path()).absolutePath())),
             qPrintable(run.err));
}

void TestCommandLine::importRunsOnceTheWindowIsUp()
{
    const QString fixture = QStringLiteral(KV930_XLS_FIXTURES "/libreoffice-plain.xls");
    FixtureAppDir app;
    auto scripted = std::make_unique<ScriptedPrompt>();
    ScriptedPrompt *prompt = scripted.get();
    Widget w(app.path(), importing(fixture), std::move(scripted));
    // Nothing happens before the event loop runs, and no file dialog is shown.
    QVERIFY(prompt->asked.isEmpty());
    QCOMPARE(w.activeItemData()->name(), QStringLiteral("Measure1"));
    QTRY_COMPARE(prompt->messages(), QStringList{"The datas is imported successfully."});
    QCOMPARE(w.activeItemData()->name(), QStringLiteral("Import1"));
    QCOMPARE(w.activeItemData()->type(), ItemData::Import);
    QCOMPARE(w.readingModel()->rowCount(), 7);

    // A file that cannot be read is reported with the reason and makes no item.
    FixtureAppDir other;
    auto second = std::make_unique<ScriptedPrompt>();
    prompt = second.get();
    Widget v(other.path(), importing(other.file(QStringLiteral("missing.xls"))), std::move(second));
    QTRY_COMPARE(prompt->messages(), QStringList{"The datas is imported failed.\nNo such file."});
    QCOMPARE(w.treeModel()->rowCount(w.treeModel()->index(1, 0)), 2);
    QCOMPARE(v.treeModel()->rowCount(v.treeModel()->index(1, 0)), 1);
}

void TestCommandLine::noJournalKeepsNone()
{
    // The program keeps its journal in the user's data folder unless told not to.
    QTemporaryDir folder;
    QVERIFY(copyProgram(folder, true));
    const QString journal = folder.filePath(QStringLiteral("data/kv930/journal.sqlite"));
    Run run = runProgram(folder.filePath(QStringLiteral("kv930")), {QStringLiteral("--no-journal")},
                         offscreen(folder.path()), true);
    QCOMPARE(run.status, 0);
    QVERIFY(!QFile::exists(journal));
    run = runProgram(folder.filePath(QStringLiteral("kv930")), {}, offscreen(folder.path()), true);
    QCOMPARE(run.status, 0);
    QVERIFY(QFile::exists(journal));
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
