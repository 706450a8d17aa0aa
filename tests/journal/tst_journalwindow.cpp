// The window with its recording journal, on the scripted fake meter: the tree
// coming back after a window that was not closed, the close question, File >
// Recent Recordings, pruning, and the journal's faults.
#include "datamodel.h"
#include "dlgdownload.h"
#include "dlgrecentrecordings.h"
#include "journal.h"
#include "journalfolder.h"
#include "kv930resources.h"
#include "readingdigest.h"
#include "testsupport.h"
#include "tvitemmodel.h"

#include <QLabel>
#include <QLockFile>
#include <QProcess>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// A window on the fake meter with its journal in folder (none when empty).
struct JournalWindow
{
    explicit JournalWindow(const QString &folder)
    {
        auto scripted = std::make_unique<ScriptedPrompt>();
        prompt = scripted.get();
        JournalOptions options;
        options.enabled = !folder.isEmpty();
        options.folder = folder;
        window = std::make_unique<Widget>(app.path(), std::move(scripted), options);
        window->setEventPassMs(0);
        QCoreApplication::processEvents(); // start-up messages
    }
    QAction *action(const char *name) const { return windowAction(*window, name); }
    QTreeView *tree() const { return window->findChild<QTreeView *>(QStringLiteral("tvItems")); }
    QModelIndex liveRow(int row) const
    {
        return window->treeModel()->index(row, 0, window->treeModel()->index(1, 0));
    }
    ItemData *liveItem(int row) const { return TvItemModel::itemDataAt(liveRow(row)); }
    int liveCount() const
    {
        return window->treeModel()->rowCount(window->treeModel()->index(1, 0));
    }
    ItemData *store() const { return TvItemModel::itemDataAt(window->treeModel()->index(0, 0)); }
    QLabel *journalState() const
    {
        return window->findChild<QLabel *>(QStringLiteral("lblJournalState"));
    }
    QStringList messages(const char *kind) const
    {
        QStringList texts;
        for (const auto &a : prompt->asked)
            if (a.kind == QLatin1String(kind))
                texts << a.text;
        return texts;
    }

    FixtureAppDir app;
    ScriptedPrompt *prompt = nullptr;
    std::unique_ptr<Widget> window;
};

} // namespace

class JournalWindowTest : public QObject
{
    Q_OBJECT

private:
    QObject *fake = nullptr;

    void connectAndStart(JournalWindow &w)
    {
        if (!w.action("actionDisconnect")->isEnabled()) {
            w.action("actionConnect")->trigger();
            QTRY_VERIFY(w.action("actionDisconnect")->isEnabled());
        }
        w.action("actionStart")->trigger();
        QVERIFY(w.window->isAcquiring());
    }
    void record(JournalWindow &w, int count, double firstUW = 100.0)
    {
        if (!w.window->isAcquiring())
            connectAndStart(w);
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, QStringLiteral("dBm")),
                                      Q_ARG(double, firstUW + i), Q_ARG(int, 1550),
                                      Q_ARG(QDateTime, QDateTime(QDate(2026, 2, 3), QTime(4, 5))));
        QCoreApplication::processEvents(); // the window hands them to the journal
    }
    void download(JournalWindow &w, int count)
    {
        w.prompt->onExec = [this, count](QDialog &dialog) {
            QTimer::singleShot(0, [this, count] {
                QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, count), Q_ARG(int, 0));
                for (int i = 0; i < count; ++i)
                    QMetaObject::invokeMethod(
                        fake, "emitDisplayStore", Q_ARG(int, i + 1), Q_ARG(double, 10.0 * i),
                        Q_ARG(QDateTime, QDateTime(QDate(2026, 1, 1), QTime(0, i))));
                QMetaObject::invokeMethod(fake, "emitStoreNum", Q_ARG(int, count),
                                          Q_ARG(int, count));
            });
            return dialog.exec();
        };
        w.tree()->setCurrentIndex(w.window->treeModel()->index(0, 0));
        w.action("actionItemDownload")->trigger();
        w.prompt->onExec = nullptr;
    }
    void exportXls(JournalWindow &w, const QString &file)
    {
        w.prompt->onExec = [](QDialog &) { return int(QDialog::Accepted); }; // "Table(XLS)"
        w.prompt->fileNames.enqueue(file);
        w.action("actionExport")->trigger();
        w.prompt->onExec = nullptr;
        QVERIFY(QFile::exists(file));
    }
    // Opens File > Recent Recordings, checks the list and opens row (or cancels).
    QList<QStringList> recentRecordings(JournalWindow &w, int open = -1)
    {
        QList<QStringList> rows;
        w.prompt->onExec = [&rows, open](QDialog &dialog) {
            auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("twRecordings"));
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                QStringList cells;
                for (int c = 0; c < 4; ++c)
                    cells << list->topLevelItem(i)->text(c);
                rows << cells;
            }
            if (open < 0)
                return int(QDialog::Rejected);
            list->setCurrentItem(list->topLevelItem(open));
            return int(QDialog::Accepted);
        };
        w.action("actionRecentRecordings")->trigger();
        w.prompt->onExec = nullptr;
        return rows;
    }
    static bool contains(const QStringList &texts, const QString &part)
    {
        for (const QString &t : texts)
            if (t.contains(part))
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        kv930InitResources();
        fake = fakeMeter();
        QVERIFY(fake);
    }
    void init() { resetFake(fake); }

    // A window that was not closed (its program died) comes back as it was.
    void treeComesBackAsItWas()
    {
        QTemporaryDir folder;
        QVector<QByteArray> measure1, fibre, stored;
        {
            JournalWindow a(folder.path());
            QVERIFY(a.window->journal());
            record(a, 7);
            a.prompt->texts.enqueue(QStringLiteral("Measure2"));
            a.action("actionItemNew")->trigger();
            record(a, 4, 900.0);
            a.tree()->setCurrentIndex(a.liveRow(1));
            a.prompt->texts.enqueue(QStringLiteral("Fibre B"));
            a.action("actionItemRename")->trigger();
            a.prompt->texts.enqueue(QStringLiteral("Measure3"));
            a.action("actionItemNew")->trigger();
            record(a, 2);
            a.tree()->setCurrentIndex(a.liveRow(2));
            a.prompt->answers.enqueue(QMessageBox::Yes);
            a.action("actionItemDelete")->trigger();
            download(a, 5);
            a.tree()->setCurrentIndex(a.liveRow(0));
            a.action("actionItemSetToActive")->trigger();
            QVERIFY(a.window->journal()->flush());
            for (int i = 0; i < 7; ++i)
                measure1 << readingDigest(a.liveItem(0)->readings(), i);
            for (int i = 0; i < 4; ++i)
                fibre << readingDigest(a.liveItem(1)->readings(), i);
            for (int i = 0; i < 5; ++i)
                stored << readingDigest(a.store()->readings(), i);
        } // gone without a close: as if it had crashed

        JournalWindow b(folder.path());
        QTRY_COMPARE(b.messages("information").size(), 1);
        QVERIFY(b.messages("information").first().contains("16 readings in 3 items came back"));
        QCOMPARE(b.liveCount(), 2);
        QCOMPARE(b.liveItem(0)->name(), QStringLiteral("Measure1"));
        QCOMPARE(b.liveItem(1)->name(), QStringLiteral("Fibre B"));
        QCOMPARE(b.window->activeItemData(), b.liveItem(0));
        QVERIFY(b.liveRow(0).data(ActiveRole).toBool());
        for (int i = 0; i < 7; ++i)
            QCOMPARE(readingDigest(b.liveItem(0)->readings(), i), measure1[i]);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(readingDigest(b.liveItem(1)->readings(), i), fibre[i]);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(readingDigest(b.store()->readings(), i), stored[i]);
        QCOMPARE(b.window->readingModel()->rowCount(), 7);

        // Restored items behave like any other: recording goes on into the
        // active one, another is deleted, and the next restart shows both.
        record(b, 3);
        b.tree()->setCurrentIndex(b.liveRow(1));
        b.prompt->answers.enqueue(QMessageBox::Yes);
        b.action("actionItemDelete")->trigger();
        QVERIFY(b.window->journal()->flush());
        b.window.reset();
        JournalWindow c(folder.path());
        QTRY_VERIFY(contains(c.messages("information"), "15 readings in 2 items came back"));
        QCOMPARE(c.liveCount(), 1);
        QCOMPARE(c.liveItem(0)->dataCount(), 10);
        // Exporting it leaves nothing at risk: the window closes without a question.
        exportXls(c, folder.filePath(QStringLiteral("m1.xls")));
        c.tree()->setCurrentIndex(c.window->treeModel()->index(0, 0));
        c.action("actionItemSetToActive")->trigger();
        exportXls(c, folder.filePath(QStringLiteral("store.xls")));
        QVERIFY(c.window->close());
        QVERIFY(c.messages("question").isEmpty());
        c.window.reset();
        JournalWindow d(folder.path()); // closed normally: a fresh start
        QVERIFY(!contains(d.messages("information"), "came back"));
        QCOMPARE(d.liveItem(0)->dataCount(), 0);
    }

    void closeQuestion()
    {
        QTemporaryDir folder;
        {
            // No readings: no question.
            JournalWindow w{QString()};
            QVERIFY(w.window->close());
            QVERIFY(w.messages("question").isEmpty());
        }
        {
            // Exported after the last reading: no question; imported items
            // are never at risk.
            JournalWindow w{QString()};
            record(w, 5);
            exportXls(w, folder.filePath(QStringLiteral("a.xls")));
            w.prompt->fileNames.enqueue(folder.filePath(QStringLiteral("a.xls")));
            w.action("actionImport")->trigger();
            QCOMPARE(w.window->activeItemData()->type(), ItemData::Import);
            QCOMPARE(w.window->activeItemData()->dataCount(), 5);
            QVERIFY(w.window->close());
            QVERIFY(w.messages("question").isEmpty());
        }
        {
            // Readings after the export, and a download: No keeps the window.
            JournalWindow w(folder.path());
            w.window->show();
            record(w, 5);
            exportXls(w, folder.filePath(QStringLiteral("b.xls")));
            record(w, 3);
            download(w, 4);
            w.prompt->answers.enqueue(QMessageBox::No);
            QVERIFY(!w.window->close());
            QVERIFY(w.window->isVisible());
            QCOMPARE(w.messages("question").size(), 1);
            const QString asked = w.messages("question").first();
            QVERIFY2(asked.contains("7 readings in 2 items were never exported"),
                     qPrintable(asked));
            QVERIFY(asked.contains("Recent Recordings"));
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
            QVERIFY(!w.window->isVisible());
        }
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("journal.sqlite"))));
    }

    void recentRecordingsReopenAPastSession()
    {
        QTemporaryDir folder;
        QVector<QByteArray> recorded;
        QDateTime started;
        {
            JournalWindow a(folder.path());
            started = QDateTime::currentDateTime();
            record(a, 6);
            download(a, 3);
            for (int i = 0; i < 6; ++i)
                recorded << readingDigest(a.liveItem(0)->readings(), i);
            a.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(a.window->close());
        }
        JournalWindow b(folder.path());
        QVERIFY(!contains(b.messages("information"), "came back"));
        record(b, 2, 5000.0);
        const QList<QStringList> rows = recentRecordings(b, 0);
        QCOMPARE(rows.size(), 1); // b's own session is not a past one
        QCOMPARE(rows[0][2], QStringLiteral("2"));
        QCOMPARE(rows[0][3], QStringLiteral("9"));
        QVERIFY(qAbs(QDateTime::fromString(rows[0][0], "yyyy-MM-dd hh:mm:ss").secsTo(started)) < 5);

        // Its items come back beside the current ones, named for the session.
        const QString when = rows[0][0].left(16);
        QCOMPARE(b.liveCount(), 3);
        QCOMPARE(b.liveItem(0)->dataCount(), 2);
        QCOMPARE(b.window->activeItemData(), b.liveItem(0));
        QCOMPARE(b.liveItem(1)->name(), QStringLiteral("Measure1 (%1)").arg(when));
        QCOMPARE(b.liveItem(2)->name(), QStringLiteral("Store Data (%1)").arg(when));
        QCOMPARE(b.liveItem(2)->dataCount(), 3);
        QVERIFY(b.liveItem(2)->readings().stored(0));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(readingDigest(b.liveItem(1)->readings(), i), recorded[i]);
        QVERIFY(contains(b.messages("information"), "9 readings in 2 items of the recording of"));
        // Reopened items are still kept in the journal: only b's own readings are at risk.
        b.prompt->answers.enqueue(QMessageBox::Yes);
        QVERIFY(b.window->close());
        QVERIFY(b.messages("question").value(0).contains("2 readings in 1 item"));
    }

    void oldSessionsArePruned()
    {
        QTemporaryDir folder;
        for (int i = 0; i < 2; ++i) {
            JournalWindow w(folder.path());
            record(w, 3 + i);
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
        }
        QCOMPARE(journalQuery(folder.path(), "SELECT count(*) FROM sessions"), QStringLiteral("2"));
        // Both began 40 days ago; one ended 31 days ago, the other yesterday:
        // age counts from a session's end.
        journalQuery(folder.path(), "UPDATE sessions SET started = started - 40 * 86400000");
        journalQuery(folder.path(), "UPDATE sessions SET ended = ended - 31 * 86400000 WHERE id = "
                                    "(SELECT id FROM sessions s JOIN items i ON i.session = s.id "
                                    "WHERE i.readings = 3)");
        journalQuery(folder.path(), "UPDATE sessions SET ended = ended - 86400000 WHERE id = "
                                    "(SELECT id FROM sessions s JOIN items i ON i.session = s.id "
                                    "WHERE i.readings = 4)");
        JournalWindow w(folder.path());
        QVERIFY(w.window->journal()->flush());
        QCOMPARE(journalQuery(folder.path(), "SELECT sum(readings) FROM items"),
                 QStringLiteral("4"));
        QCOMPARE(journalQuery(folder.path(), "SELECT count(*) FROM batches WHERE session NOT IN "
                                             "(SELECT id FROM sessions)"),
                 QStringLiteral("0"));
        const QList<QStringList> rows = recentRecordings(w);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0][3], QStringLiteral("4"));
    }

    void readOnlyFolderWarnsOnceAndRecordsInMemory()
    {
        QTemporaryDir base;
        const QString home = base.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home));
        bool mounted = false;
        if (geteuid() == 0) {
            // Permissions do not stop root: a read-only file system does.
            mounted = ::mount("tmpfs", home.toLocal8Bit().constData(), "tmpfs", MS_RDONLY,
                              "size=64k") == 0;
            if (!mounted)
                QSKIP("root without mount permission cannot be given a read-only folder");
        } else {
            QVERIFY(QFile::setPermissions(home, QFile::ReadOwner | QFile::ExeOwner));
        }
        {
            JournalWindow w(QDir(home).filePath(QStringLiteral(".local/share/kv930")));
            QTRY_COMPARE(w.messages("warning").size(), 1);
            QVERIFY(w.messages("warning").first().contains("cannot be kept"));
            QVERIFY(!w.window->journal());
            QVERIFY(!w.action("actionRecentRecordings")->isEnabled());
            record(w, 20);
            QCOMPARE(w.window->activeItemData()->dataCount(), 20);
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
            QCOMPARE(w.messages("warning").size(), 1);
        }
        if (mounted)
            QCOMPARE(::umount(home.toLocal8Bit().constData()), 0);
        else
            QFile::setPermissions(home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void junkJournalIsMovedAside()
    {
        QTemporaryDir folder;
        const QByteArray junk = QByteArray("this is no database\n").repeated(300);
        {
            QFile file(folder.filePath(QStringLiteral("journal.sqlite")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(junk);
        }
        {
            JournalWindow w(folder.path());
            QTRY_COMPARE(w.messages("warning").size(), 1);
            QVERIFY(w.messages("warning").first().contains("moved aside"));
            const QStringList aside =
                QDir(folder.path()).entryList({QStringLiteral("journal-damaged-*.sqlite")});
            QCOMPARE(aside.size(), 1);
            QVERIFY(w.messages("warning").first().contains(aside.first()));
            QFile kept(folder.filePath(aside.first()));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), junk);
            // The fresh journal works.
            record(w, 4);
            QVERIFY(w.window->journal()->flush());
        }
        JournalWindow again(folder.path());
        QTRY_VERIFY(contains(again.messages("information"), "4 readings in 1 item came back"));
        QCOMPARE(again.liveItem(0)->dataCount(), 4);
        QVERIFY(again.messages("warning").isEmpty());
    }

    // A later failure is not silent after an earlier warning: the status bar
    // and the close question say the journal is off, and the clean close
    // still marks the session ended (no restore at the next start).
    void fullDiskAfterMovedAsideIsShownAndTheCloseIsClean()
    {
        QTemporaryDir base;
        const QString folder = base.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(folder));
        // A small file system where the machine allows one, else a limit on
        // the size a file of this process may reach: the journal's writes fail
        // either way, as on a full disk.
        const bool mounted = geteuid() == 0 && ::mount("tmpfs", folder.toLocal8Bit().constData(),
                                                       "tmpfs", 0, "size=160k") == 0;
        rlimit before{};
        if (!mounted) {
            getrlimit(RLIMIT_FSIZE, &before);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = before;
            small.rlim_cur = 160 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const auto restore = qScopeGuard([&] {
            if (mounted)
                ::umount(folder.toLocal8Bit().constData());
            else
                setrlimit(RLIMIT_FSIZE, &before);
        });
        {
            QFile junk(QDir(folder).filePath(QStringLiteral("journal.sqlite")));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray("this is no database\n").repeated(100));
        }
        {
            JournalWindow w(folder);
            QVERIFY(w.window->journal());
            QTRY_COMPARE(w.messages("warning").size(), 1); // moved aside
            QVERIFY(w.journalState()->isHidden());
            for (int round = 0; round < 40 && w.messages("warning").size() < 2; ++round) {
                record(w, 500, 100.0 + round);
                w.window->journal()->flush(2000);
                QCoreApplication::processEvents();
            }
            QTRY_COMPARE(w.messages("warning").size(), 2);
            QVERIFY(w.messages("warning").last().contains("cannot be written any more"));
            QVERIFY(!w.journalState()->isHidden());
            QCOMPARE(w.journalState()->text(),
                     QStringLiteral("Journal off: readings are kept in memory only"));
            QVERIFY(!w.journalState()->toolTip().isEmpty());
            const int held = w.window->activeItemData()->dataCount();
            record(w, 500);
            QCOMPARE(w.window->activeItemData()->dataCount(), held + 500);
            QCoreApplication::processEvents();
            QCOMPARE(w.messages("warning").size(), 2);
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
            QVERIFY(w.messages("question").value(0).contains("Journal off"));
            QVERIFY(!w.messages("question").value(0).contains("Recent Recordings"));
        }
        // The end is in the file (when it fitted where the failed batch did
        // not) or else in a marker beside it; with room for a lock file, the
        // next start takes the close as one.
        QVERIFY(journalQuery(folder, "SELECT count(*) FROM sessions WHERE ended IS NULL") == "0" ||
                QDir(folder).entryList({"session-*.closed"}).size() == 1);
        for (const QString &aside : QDir(folder).entryList({"journal-damaged-*"}))
            QFile::remove(QDir(folder).filePath(aside));
        JournalWindow again(folder);
        QVERIFY(again.window->journal());
        QVERIFY(!contains(again.messages("information"), "came back"));
        QCOMPARE(again.window->activeItemData()->dataCount(), 0);
    }

    // Live readings keep arriving while a report is written: the export
    // covers the readings in the file, not the item's size afterwards.
    void exportCoversWhatTheFileHolds()
    {
        QTemporaryDir folder;
        JournalWindow w(folder.path());
        w.window->setProgressDelayMs(0);
        record(w, 300);
        QTimer meter;
        connect(&meter, &QTimer::timeout, this, [this] {
            QMetaObject::invokeMethod(fake, "emitDisplay", Q_ARG(QString, QStringLiteral("dBm")),
                                      Q_ARG(double, 1.0), Q_ARG(int, 1310),
                                      Q_ARG(QDateTime, QDateTime::currentDateTime()));
        });
        meter.start(0);
        w.prompt->onExec = [](QDialog &dialog) {
            dialog.findChild<QRadioButton *>(QStringLiteral("rbPdf"))->setChecked(true);
            return int(QDialog::Accepted);
        };
        const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
        w.prompt->fileNames.enqueue(pdf);
        w.action("actionExport")->trigger();
        meter.stop();
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        int rows = 0;
        for (const QByteArray &line : text.readAllStandardOutput().split('\n'))
            rows += line.trimmed().endsWith("nm");
        const int held = w.window->activeItemData()->dataCount();
        qInfo("%d rows in the report, %d readings held", rows, held);
        QVERIFY(rows >= 300 && rows < held);
        w.prompt->answers.enqueue(QMessageBox::No);
        QVERIFY(!w.window->close());
        const QString asked = w.messages("question").value(0);
        QVERIFY2(asked.startsWith(QStringLiteral("%L1 reading").arg(held - rows)) &&
                     asked.contains(QStringLiteral(" in 1 item were never exported")),
                 qPrintable(asked));
    }

    // Another program holding the write lock: the journal says it waits,
    // keeps its queue bounded, and catches up with every reading once free.
    void busyJournalWaitsBoundedAndCatchesUp()
    {
        QTemporaryDir folder;
        constexpr qint64 limit = 4096;
        int held = 0;
        {
            JournalWindow w(folder.path());
            record(w, 10);
            QVERIFY(w.window->journal()->flush());
            w.window->journal()->setWaitingQueueLimit(limit);
            QProcess holder;
            holder.start(QStringLiteral("sqlite3"), {folder.filePath("journal.sqlite")});
            holder.write("BEGIN IMMEDIATE;\nSELECT 'held';\n");
            QByteArray said;
            QTRY_VERIFY((said += holder.readAll()).contains("held"));
            record(w, 100);
            QTRY_VERIFY_WITH_TIMEOUT(!w.journalState()->isHidden(), 15000);
            QVERIFY(w.journalState()->text().startsWith(QStringLiteral("Journal waiting")));
            QTRY_COMPARE(w.messages("warning").size(), 1);
            for (int i = 0; i < 20; ++i)
                record(w, 200, 1000.0 + i);
            // Past the bound the readings stay in the item alone (one burst of
            // at most 200 beyond it reaches the queue).
            QVERIFY(w.window->journal()->queuedBytes() < limit + 200 * 64);
            held = w.window->activeItemData()->dataCount();
            QCOMPARE(held, 4110);
            QVERIFY(!w.window->journal()->flush(200));
            holder.write("COMMIT;\n");
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(10000));
            QTRY_VERIFY_WITH_TIMEOUT(w.journalState()->isHidden(), 15000);
            QVERIFY(w.window->journal()->flush());
            QCOMPARE(journalQuery(folder.path(), "SELECT sum(readings) FROM items"),
                     QString::number(held));
        } // not closed: the next start restores it
        JournalWindow again(folder.path());
        QTRY_VERIFY(contains(again.messages("information"),
                             QStringLiteral("%L1 readings in 1 item came back").arg(held)));
    }

    // Damage inside the file (not in the pages a count reads) is found at
    // open and the file moved aside, unless another running copy has it open.
    void damagedJournalIsMovedAsideUnlessInUse()
    {
        QTemporaryDir folder;
        {
            JournalWindow w(folder.path());
            record(w, 3000);
            w.prompt->answers.enqueue(QMessageBox::Yes);
            QVERIFY(w.window->close());
        }
        const int pageSize = journalQuery(folder.path(), "PRAGMA page_size").toInt();
        const qint64 page =
            journalQuery(folder.path(), "SELECT min(pageno) FROM dbstat WHERE "
                                        "name = 'batches' AND pagetype = 'overflow'")
                .toLongLong();
        QVERIFY(pageSize > 0 && page > 1);
        {
            QFile file(folder.filePath(QStringLiteral("journal.sqlite")));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek((page - 1) * pageSize));
            file.write(QByteArray(pageSize, '\x7f'));
        }
        QVERIFY(journalQuery(folder.path(), "PRAGMA integrity_check") != QLatin1String("ok"));
        {
            // A living program's session lock: the file stays where it is.
            QLockFile other(folder.filePath(QStringLiteral("session-7.lock")));
            QVERIFY(other.tryLock(0));
            JournalWindow w(folder.path());
            QVERIFY(!w.window->journal());
            QTRY_COMPARE(w.messages("warning").size(), 1);
            QVERIFY(w.messages("warning").first().contains("another running copy"));
            QVERIFY(!w.journalState()->isHidden());
            QVERIFY(QDir(folder.path()).entryList({"journal-damaged-*"}).isEmpty());
        }
        JournalWindow w(folder.path());
        QTRY_COMPARE(w.messages("warning").size(), 1);
        QVERIFY(w.messages("warning").first().contains("moved aside"));
        QCOMPARE(QDir(folder.path()).entryList({"journal-damaged-*.sqlite"}).size(), 1);
        QVERIFY(w.window->journal()->flush());
        QCOMPARE(journalQuery(folder.path(), "PRAGMA integrity_check"), QStringLiteral("ok"));
    }

    // A data folder on a network file system: the journal is kept locally,
    // and found there again at the next start.
    void networkFolderKeepsTheJournalLocally()
    {
        QTemporaryDir network, state;
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        journalfolder::setNetworkCheckForTests(
            [&](const QString &path) { return path.startsWith(network.path()); });
        const QString dataFolder = network.filePath(QStringLiteral("kv930"));
        {
            JournalWindow w(dataFolder);
            QVERIFY(w.window->journal());
            QCOMPARE(w.window->journal()->folder(), state.filePath(QStringLiteral("kv930")));
            record(w, 5);
            QVERIFY(w.window->journal()->flush());
        }
        QVERIFY(QFile::exists(state.filePath(QStringLiteral("kv930/journal.sqlite"))));
        QVERIFY(!QFile::exists(QDir(dataFolder).filePath(QStringLiteral("journal.sqlite"))));
        {
            JournalWindow again(dataFolder);
            QTRY_VERIFY(contains(again.messages("information"), "5 readings in 1 item came back"));
        }
        journalfolder::setNetworkCheckForTests({});
        qputenv("XDG_STATE_HOME", savedState);
        QVERIFY(!journalfolder::isOnNetwork(network.path())); // a local disk is local
    }
};

QTEST_MAIN(JournalWindowTest)
#include "tst_journalwindow.moc"
