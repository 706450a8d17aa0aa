// The program as the crash test runs it in a child process: the real window
// on the virtual meter from the build's Lib, recording into a journal folder.
// It reports every reading it holds on stdout ("R <index> <digest>") until
// the parent kills it (or ends it with SIGTERM, as a log-out does).
//
//   journal_child live     <program folder> <journal folder>
//   journal_child download <program folder> <journal folder>
//   journal_child import   <program folder> <journal folder> <file.xls>
#include "kv930resources.h"
#include "prompt.h"
#include "readingdigest.h"
#include "termination.h"
#include "widget.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <memory>

namespace {
class ChildPrompt : public Prompt
{
public:
    QString file;
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return file;
    }
    QMessageBox::StandardButton question(QWidget *, const QString &, const QString &,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton) override
    {
        say("Q", QStringLiteral("asked"));
        return QMessageBox::Yes;
    }
    void information(QWidget *, const QString &text) override { say("M", text); }
    void warning(QWidget *, const QString &text) override { say("W", text); }
    void critical(QWidget *, const QString &text) override { say("W", text); }

    static void say(const char *kind, const QString &text)
    {
        std::printf("%s %s\n", kind, qPrintable(QString(text).replace(QLatin1Char('\n'), ' ')));
        std::fflush(stdout);
    }
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    kv930InitResources();
    onTerminationSignals([] { QApplication::closeAllWindows(); }); // as the program does: SIGTERM closes the window
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    const QString mode = args.at(1);
    auto prompt = std::make_unique<ChildPrompt>();
    if (mode == QLatin1String("import") && args.size() > 4)
        prompt->file = args.at(4);
    JournalOptions journal;
    journal.folder = args.at(3);
    Widget window(args.at(2), std::move(prompt), journal);
    window.show();
    auto action = [&window](const char *name) {
        return window.findChild<QAction *>(QLatin1String(name));
    };

    // Report what the active item holds, every few milliseconds (also inside
    // the download dialog's modal loop).
    int reported = 0;
    const ItemData *reportedItem = nullptr;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const ItemData *item = window.activeItemData();
        if (!item)
            return;
        if (item != reportedItem) {
            reportedItem = item;
            reported = 0;
        }
        const ReadingStore &store = item->readings();
        for (; reported < store.size(); ++reported)
            std::printf("R %d %s\n", reported, readingDigest(store, reported).constData());
        std::fflush(stdout);
    });
    report.start(5);

    if (mode == QLatin1String("import")) {
        QTimer::singleShot(50, [&] {
            ChildPrompt::say("I", QStringLiteral("begin"));
            action("actionImport")->trigger();
            ChildPrompt::say("I",
                             QStringLiteral("done %1").arg(window.activeItemData()->dataCount()));
        });
        return app.exec();
    }

    action("actionConnect")->trigger();
    QTimer waitForLink;
    QObject::connect(&waitForLink, &QTimer::timeout, [&] {
        if (!action("actionDisconnect")->isEnabled())
            return;
        waitForLink.stop();
        if (mode == QLatin1String("download")) {
            auto *tree = window.findChild<QTreeView *>(QStringLiteral("tvItems"));
            tree->setCurrentIndex(tree->model()->index(0, 0));
            ChildPrompt::say("D", QStringLiteral("begin"));
            action("actionItemDownload")->trigger();
            ChildPrompt::say("D", QStringLiteral("done"));
        } else {
            action("actionStart")->trigger();
            ChildPrompt::say("S", QStringLiteral("started"));
        }
    });
    waitForLink.start(10);
    return app.exec();
}
