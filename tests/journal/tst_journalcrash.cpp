// Real crashes: the program runs in a child process on the virtual meter,
// records, and is killed with SIGKILL at a random moment; the restart must
// bring back every reading the child had received up to a quarter second
// before the kill, field for field, from a journal SQLite calls sound.
#include "datamodel.h"
#include "dmmdata.h"
#include "importrow.h"
#include "itemdata.h"
#include "journal.h"
#include "kv930resources.h"
#include "reading.h"
#include "readingdigest.h"
#include "testsupport.h"
#include "tvitemmodel.h"
#include "xlsreader.h"
#include "xlswriter.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

namespace {
// A commit reaches the disk at most this long after the reading arrived.
constexpr qint64 AllowedLossMs = 250;

struct ChildRun
{
    QVector<QByteArray> digests;  // what the child held, by index
    QVector<qint64> seenAt;       // when the parent read each report
    QHash<QString, qint64> marks; // "D begin", "I done 123", ... -> when
    qint64 killedAt = -1;
};
} // namespace

class JournalCrashTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir programDir;

    // Runs the child until killAt(run, now) says so, then kills it (SIGKILL).
    ChildRun runAndKill(const QStringList &args,
                        const std::function<bool(const ChildRun &, qint64)> &killNow,
                        const std::function<void(const ChildRun &)> &meanwhile = {})
    {
        ChildRun run;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KV930_JOURNAL_CHILD), args);
        if (!child.waitForStarted())
            return run;
        QElapsedTimer clock;
        clock.start();
        bool calledMeanwhile = false;
        auto readLines = [&] {
            while (child.canReadLine()) {
                const QByteArray line = child.readLine().trimmed();
                if (line.startsWith("R ")) {
                    const QList<QByteArray> parts = line.split(' ');
                    const int index = parts.value(1).toInt();
                    if (index == run.digests.size()) {
                        run.digests.append(parts.value(2));
                        run.seenAt.append(clock.elapsed());
                    }
                } else if (!line.isEmpty()) {
                    run.marks.insert(QString::fromUtf8(line), clock.elapsed());
                }
            }
        };
        while (child.state() == QProcess::Running && clock.elapsed() < 120000) {
            child.waitForReadyRead(5);
            readLines();
            if (meanwhile && !calledMeanwhile && run.digests.size() > 50) {
                calledMeanwhile = true;
                meanwhile(run);
            }
            if (killNow(run, clock.elapsed())) {
                run.killedAt = clock.elapsed();
                child.kill(); // SIGKILL
                break;
            }
        }
        child.waitForFinished();
        readLines(); // reports written before the kill still count as received
        return run;
    }

    static qint64 markTime(const ChildRun &run, const QString &prefix)
    {
        for (auto it = run.marks.cbegin(); it != run.marks.cend(); ++it)
            if (it.key().startsWith(prefix))
                return it.value();
        return -1;
    }

    static void checkIntegrity(const QString &journalDir)
    {
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"),
                     {QDir(journalDir).filePath(QStringLiteral("journal.sqlite")),
                      QStringLiteral("PRAGMA integrity_check")});
        QVERIFY(sqlite.waitForFinished(60000));
        QCOMPARE(sqlite.readAllStandardOutput().trimmed(), QByteArray("ok"));
    }

    // Every reading reported a quarter second before the kill came back, and
    // what came back is what the child held.
    static void checkRestored(const ChildRun &run, const ReadingStore &restored)
    {
        int required = 0;
        while (required < run.seenAt.size() && run.seenAt[required] <= run.killedAt - AllowedLossMs)
            ++required;
        qInfo("%d readings came back; the child reported %d, %d of them by a quarter second "
              "before the kill",
              restored.size(), int(run.digests.size()), required);
        QVERIFY2(restored.size() >= required,
                 qPrintable(QStringLiteral("%1 readings came back, %2 were reported by %3 ms")
                                .arg(restored.size())
                                .arg(required)
                                .arg(run.killedAt - AllowedLossMs)));
        for (int i = 0; i < qMin(restored.size(), run.digests.size()); ++i)
            QVERIFY2(readingDigest(restored, i) == run.digests[i], qPrintable(QString::number(i)));
    }

    std::unique_ptr<Widget> restart(const QString &journalDir, ScriptedPrompt **prompt)
    {
        auto scripted = std::make_unique<ScriptedPrompt>();
        *prompt = scripted.get();
        JournalOptions options;
        options.folder = journalDir;
        auto w = std::make_unique<Widget>(programDir.path(), std::move(scripted), options);
        QCoreApplication::processEvents();
        return w;
    }

    static bool cameBack(const ScriptedPrompt &prompt)
    {
        for (const QString &m : prompt.messages())
            if (m.contains(QLatin1String("came back")))
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        QVERIFY(programDir.isValid());
        QVERIFY(installVirtualMeter(programDir,
                                    "[meter]\nrate=400\nunit=cycle\nrangeEventChance=0.05\n"
                                    "storedCount=30000\nburstSize=40\nburstIntervalMs=4\n"
                                    "openDelayMs=10\n"));
    }

    void killedWhileRecording()
    {
        QTemporaryDir journalDir;
        const qint64 recordFor = 400 + QRandomGenerator::global()->bounded(2000);
        qInfo("killing %lld ms after the first reading", recordFor);
        bool secondCopyChecked = false;
        const ChildRun run = runAndKill(
            {QStringLiteral("live"), programDir.path(), journalDir.path()},
            [&](const ChildRun &r, qint64 now) {
                return !r.seenAt.isEmpty() && now - r.seenAt.first() >= recordFor;
            },
            [&](const ChildRun &) {
                // A second copy started meanwhile leaves the running one alone.
                ScriptedPrompt *prompt = nullptr;
                auto other = restart(journalDir.path(), &prompt);
                QCoreApplication::processEvents();
                QVERIFY(!cameBack(*prompt));
                QCOMPARE(other->activeItemData()->name(), QStringLiteral("Measure1"));
                QCOMPARE(other->activeItemData()->dataCount(), 0);
                QVERIFY(other->close());
                secondCopyChecked = true;
            });
        QVERIFY(run.killedAt >= 0);
        QVERIFY(secondCopyChecked);
        checkIntegrity(journalDir.path());

        ScriptedPrompt *prompt = nullptr;
        auto w = restart(journalDir.path(), &prompt);
        QTRY_VERIFY(cameBack(*prompt));
        QVERIFY(w->activeItemData());
        QCOMPARE(w->activeItemData()->name(), QStringLiteral("Measure1"));
        checkRestored(run, w->activeItemData()->readings());
        QCOMPARE(w->readingModel()->rowCount(), w->activeItemData()->dataCount());
    }

    // A crashed session is restored however old: pruning at start-up comes
    // after the restore and never takes an unfinished session.
    void crashedMonthOldSessionIsRestored()
    {
        QTemporaryDir journalDir;
        const ChildRun run =
            runAndKill({QStringLiteral("live"), programDir.path(), journalDir.path()},
                       [](const ChildRun &r, qint64 now) {
                           return !r.seenAt.isEmpty() && now - r.seenAt.first() >= 600;
                       });
        QVERIFY(run.killedAt >= 0);
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"),
                     {QDir(journalDir.path()).filePath(QStringLiteral("journal.sqlite")),
                      QStringLiteral("UPDATE sessions SET started = started - 31 * 86400000")});
        QVERIFY(sqlite.waitForFinished(30000));
        QCOMPARE(sqlite.exitCode(), 0);

        ScriptedPrompt *prompt = nullptr;
        auto w = restart(journalDir.path(), &prompt);
        QTRY_VERIFY(cameBack(*prompt));
        checkRestored(run, w->activeItemData()->readings());
        QVERIFY(w->journal()->flush());
        checkIntegrity(journalDir.path());
    }

    void terminatedWhileRecording()
    {
        // A log-out's SIGTERM: the program ends by itself at once, asking
        // nothing, and the next start brings back every reading it held.
        QTemporaryDir journalDir;
        QProcess child;
        child.start(QStringLiteral(KV930_JOURNAL_CHILD),
                    {QStringLiteral("live"), programDir.path(), journalDir.path()});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        int reported = 0;
        while (reported < 200 && child.state() == QProcess::Running) {
            child.waitForReadyRead(50);
            out += child.readAll();
            reported = out.count("\nR ");
        }
        child.terminate(); // SIGTERM
        QVERIFY(child.waitForFinished(30000));
        out += child.readAll();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(!out.contains("\nQ "), "a question held up the close");
        checkIntegrity(journalDir.path());

        int held = 0;
        for (const QByteArray &line : out.split('\n'))
            held += line.startsWith("R ");
        ScriptedPrompt *prompt = nullptr;
        auto w = restart(journalDir.path(), &prompt);
        QTRY_VERIFY(cameBack(*prompt));
        QVERIFY(w->activeItemData()->dataCount() >= held);
    }

    void killedDuringDownload()
    {
        QTemporaryDir journalDir;
        const qint64 after = 100 + QRandomGenerator::global()->bounded(1500);
        qInfo("killing %lld ms into the download", after);
        const ChildRun run =
            runAndKill({QStringLiteral("download"), programDir.path(), journalDir.path()},
                       [&](const ChildRun &r, qint64 now) {
                           const qint64 begun = markTime(r, QStringLiteral("D begin"));
                           return begun >= 0 && now - begun >= after;
                       });
        QVERIFY(run.killedAt >= 0);
        QVERIFY2(markTime(run, QStringLiteral("D done")) < 0, "the download ended before the kill");
        checkIntegrity(journalDir.path());

        ScriptedPrompt *prompt = nullptr;
        auto w = restart(journalDir.path(), &prompt);
        if (run.digests.isEmpty() || run.seenAt.first() > run.killedAt - AllowedLossMs) {
            // Killed before anything had to be on disk.
            QVERIFY(w->activeItemData());
            return;
        }
        QTRY_VERIFY(cameBack(*prompt));
        const ItemData *store = TvItemModel::itemDataAt(w->treeModel()->index(0, 0));
        QCOMPARE(w->activeItemData(), store);
        checkRestored(run, store->readings());
        QVERIFY(store->readings().stored(0));
    }

    void killedDuringImport()
    {
        // A file of 150,000 readings.
        QTemporaryDir fileDir;
        const QString file = fileDir.filePath(QStringLiteral("many.xls"));
        {
            ReadingStore readings;
            Reading r;
            r.unit = QStringLiteral("dBm");
            r.waveLength = 1310;
            for (int i = 0; i < 150000; ++i) {
                r.dateTime = QDateTime(QDate(2026, 1, 2), QTime(8, 0)).addSecs(i);
                r.valueDBm = -3.0 - (i % 100) / 100.0;
                r.textDBm = QString::number(r.valueDBm, 'f', 2);
                readings.append(r);
            }
            DataModel model;
            model.setStore(&readings);
            QVERIFY(xls::writeTable(file, {"No.", "Time", "Value", "Unit", "WaveLength"}, model));
        }
        // What the import makes of the file, for comparison.
        ReadingStore expected;
        const xls::ReadResult sheet = xls::readRows(file);
        for (const QVariantList &row : sheet.rows) {
            std::unique_ptr<DmmData> reading(readingFromRow(row));
            if (reading)
                expected.append(*reading);
        }
        QCOMPARE(expected.size(), 150000);

        // First killed a little after the import ended (which shows how long
        // it takes), then at a random moment while it runs.
        qint64 importMs = -1;
        for (const bool during : {false, true}) {
            QTemporaryDir journalDir;
            const qint64 after =
                during ? QRandomGenerator::global()->bounded(int(importMs) + 1) : 0;
            const ChildRun run =
                runAndKill({QStringLiteral("import"), programDir.path(), journalDir.path(), file},
                           [&](const ChildRun &r, qint64 now) {
                               const qint64 begun = markTime(r, QStringLiteral("I begin"));
                               const qint64 done = markTime(r, QStringLiteral("I done"));
                               if (!during)
                                   return done >= 0 && now - done >= AllowedLossMs + 50;
                               return begun >= 0 && now - begun >= after;
                           });
            QVERIFY(run.killedAt >= 0);
            const qint64 begun = markTime(run, QStringLiteral("I begin"));
            const qint64 done = markTime(run, QStringLiteral("I done"));
            if (!during)
                importMs = done - begun;
            qInfo("import of %lld ms, killed %lld ms after it began", importMs,
                  run.killedAt - begun);
            checkIntegrity(journalDir.path());

            ScriptedPrompt *prompt = nullptr;
            auto w = restart(journalDir.path(), &prompt);
            QCoreApplication::processEvents();
            const bool mustBeComplete = done >= 0 && done <= run.killedAt - AllowedLossMs;
            QVERIFY(mustBeComplete || during);
            if (!cameBack(*prompt)) {
                // Killed before a single imported reading had to be on disk.
                QVERIFY(!mustBeComplete);
                continue;
            }
            const ItemData *item = w->activeItemData();
            QVERIFY(item);
            QCOMPARE(item->name(), QStringLiteral("Import1"));
            QCOMPARE(item->type(), ItemData::Import);
            qInfo("%d of %d imported readings came back", item->dataCount(), expected.size());
            if (mustBeComplete)
                QCOMPARE(item->dataCount(), expected.size());
            QVERIFY(item->dataCount() <= expected.size());
            for (int i = 0; i < item->dataCount(); i += 997)
                QCOMPARE(readingDigest(item->readings(), i), readingDigest(expected, i));
            if (item->dataCount() > 0)
                QCOMPARE(readingDigest(item->readings(), item->dataCount() - 1),
                         readingDigest(expected, item->dataCount() - 1));
        }
    }
};

QTEST_MAIN(JournalCrashTest)
#include "tst_journalcrash.moc"
