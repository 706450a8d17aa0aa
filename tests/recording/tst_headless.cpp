// The headless recorder as a user runs it: the real program, no display, the
// virtual meter, the journal and the export files checked with real readers.
#include "scpisimulator.h"
#include "testsupport.h"

#include "tvitemmodel.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
// A program folder of the test's own: the virtual meter at a brisk rate, and
// the user's data and configuration folders inside it.
struct HeadlessRun
{
    QTemporaryDir dir;
    QProcess process;

    HeadlessRun()
    {
        installVirtualMeter(dir, "[meter]\nrate=200\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
    }
    ~HeadlessRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    QString journalFolder() const { return dir.filePath(QStringLiteral("data/kv930")); }
    QString file(const QString &name) const { return dir.filePath(name); }

    void start(const QStringList &arguments)
    {
        process.start(QStringLiteral(KV930_PROGRAM),
                      QStringList{QStringLiteral("--headless"), QStringLiteral("--drivers"),
                                  dir.filePath(QStringLiteral("Lib"))} +
                          arguments);
        process.waitForStarted();
    }
    int finish(int timeoutMs = 30000)
    {
        if (!process.waitForFinished(timeoutMs))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // Waits for a progress line that counts at least `least` readings; returns the count.
    int waitForReadings(int least)
    {
        QByteArray seen;
        static const QRegularExpression progress(QStringLiteral("(\\d+) readings, "));
        for (int round = 0; round < 300 && process.state() == QProcess::Running; ++round) {
            process.waitForReadyRead(100);
            seen += process.readAllStandardError();
            int count = -1;
            auto lines = QRegularExpression(progress).globalMatch(QString::fromUtf8(seen));
            while (lines.hasNext())
                count = lines.next().captured(1).toInt();
            if (count >= least)
                return count;
        }
        return -1;
    }
};

// The data rows of a CSV file as python3's csv module reads them.
int csvRows(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv,sys\nrows=list(csv.reader(open(sys.argv[1], "
                                 "newline='', encoding='utf-8-sig')))\nassert rows[0][0]=='No'\n"
                                 "assert all(len(r)==len(rows[0]) for r in rows)\n"
                                 "print(len(rows)-1)"),
                  path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return -1;
    return python.readAllStandardOutput().trimmed().toInt();
}

int summaryCount(const QByteArray &stdoutText)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+) readings in "))
                                          .match(QString::fromUtf8(stdoutText));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}
} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void recordsACountIntoACsvFile()
    {
        HeadlessRun run;
        run.start({QStringLiteral("--meter"), QStringLiteral("virtual"), QStringLiteral("--count"),
                   QStringLiteral("100"), QStringLiteral("--export"), run.file("out.csv")});
        QCOMPARE(run.finish(), 0);
        const QByteArray out = run.process.readAllStandardOutput();
        QCOMPARE(out.count('\n'), 1); // one summary line
        QCOMPARE(summaryCount(out), 100);
        QVERIFY(out.contains("Measure1"));
        QCOMPARE(csvRows(run.file("out.csv")), 100);
        // The session is in the journal, ended, its readings all exported.
        QCOMPARE(journalQuery(run.journalFolder(),
                              "SELECT count(*), sum(ended IS NOT NULL) FROM sessions"),
                 QStringLiteral("1|1"));
        QCOMPARE(journalQuery(run.journalFolder(), "SELECT name, readings, exported FROM items "
                                                   "WHERE kind = 1"),
                 QStringLiteral("Measure1|100|100"));
    }

    void aTerminationSignalStopsAndExportsEverything()
    {
        HeadlessRun run;
        run.start({QStringLiteral("--item"), QStringLiteral("Fibre 7"),
                   QStringLiteral("--duration"), QStringLiteral("120"), QStringLiteral("--export"),
                   run.file("out.csv")});
        QVERIFY(run.waitForReadings(1) > 0);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);
        const int recorded = summaryCount(run.process.readAllStandardOutput());
        QVERIFY(recorded > 0);
        QCOMPARE(csvRows(run.file("out.csv")), recorded);
        QCOMPARE(journalQuery(run.journalFolder(),
                              "SELECT readings, exported FROM items WHERE name = "
                              "'Fibre 7'"),
                 QStringLiteral("%1|%1").arg(recorded));
    }

    // A recorder killed outright leaves its session open; the window's next
    // start brings every reading back but those of the last commit interval.
    void aKilledRecordingComesBackInTheWindow()
    {
        HeadlessRun run;
        run.start({QStringLiteral("--duration"), QStringLiteral("120")});
        const int seen = run.waitForReadings(50);
        QVERIFY(seen >= 50);
        QTest::qWait(400); // longer than the journal's commit interval
        ::kill(pid_t(run.process.processId()), SIGKILL);
        run.process.waitForFinished();
        QCOMPARE(journalQuery(run.journalFolder(), "PRAGMA integrity_check"), QStringLiteral("ok"));

        FixtureAppDir app;
        auto prompt = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *asked = prompt.get();
        JournalOptions journal;
        journal.folder = run.journalFolder();
        Widget window(app.path(), std::move(prompt), journal);
        QTRY_VERIFY(!asked->messages().isEmpty());
        QVERIFY(asked->messages().constFirst().contains(QStringLiteral("came back")));
        QVERIFY(window.activeItemData());
        QCOMPARE(window.activeItemData()->name(), QStringLiteral("Measure1"));
        QVERIFY(window.activeItemData()->dataCount() >= seen);
    }

    // A laboratory meter (our SCPI simulator on a pseudo-terminal) and the
    // virtual KV930 at once: each into an item and a file of its own.
    void recordsSeveralMetersAtOnce()
    {
        Simulator sim;
        QVERIFY(sim.start(QStringLiteral("pm100"), QStringLiteral("pty"), QStringLiteral("[]")));
        HeadlessRun run;
        QVERIFY(QFile::copy(QStringLiteral(KV930_BUILD_DIR "/Lib/pm100.so"),
                            run.file(QStringLiteral("Lib/pm100.so"))));
        run.start({QStringLiteral("--meter"), QStringLiteral("pm100@") + sim.where,
                   QStringLiteral("--meter"), QStringLiteral("virtual"), QStringLiteral("--rate"),
                   QStringLiteral("100"), QStringLiteral("--count"), QStringLiteral("20"),
                   QStringLiteral("--export"), run.file("out.csv")});
        QCOMPARE(run.finish(), 0);
        const QStringList summary = QString::fromUtf8(run.process.readAllStandardOutput())
                                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(summary.size(), 2);
        QVERIFY(summary[0].startsWith(QStringLiteral("20 readings")) &&
                summary[0].contains(QStringLiteral("pm100")));
        QVERIFY(summary[1].startsWith(QStringLiteral("20 readings")) &&
                summary[1].contains(QStringLiteral("virtual")));
        QCOMPARE(csvRows(run.file("out-pm100.csv")), 20);
        QCOMPARE(csvRows(run.file("out-virtual.csv")), 20);
        QCOMPARE(journalQuery(run.journalFolder(),
                              "SELECT group_concat(readings) FROM (SELECT "
                              "readings FROM items WHERE kind = 1 ORDER BY name)"),
                 QStringLiteral("20,20"));
    }

    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown suffix") << QStringList{"--export", "out.txt"} << 2;
        QTest::newRow("zero count") << QStringList{"--count", "0"} << 2;
        QTest::newRow("unknown meter") << QStringList{"--meter", "nosuch", "--count", "1"} << 1;
        QTest::newRow("absent meter") << QStringList{"--meter", "pm100@/dev/nosuch"} << 1;
        QTest::newRow("one item name, two meters")
            << QStringList{"--meter", "virtual", "--meter", "virtual", "--item", "a"} << 2;
    }
    void refusesWhatItCannotDo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        HeadlessRun run;
        run.start(arguments);
        QCOMPARE(run.finish(), status);
        QVERIFY(!run.process.readAllStandardError().isEmpty());
        // Nothing was recorded: no journal was even begun.
        QVERIFY(!QFileInfo::exists(run.journalFolder()));
    }
};

QTEST_MAIN(TestHeadless)
#include "tst_headless.moc"
