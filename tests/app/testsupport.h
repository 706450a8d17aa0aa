#pragma once

#include "prompt.h"
#include "widget.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQueue>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

// Answers the window's questions from a script and records what was asked.
class ScriptedPrompt : public Prompt
{
public:
    struct Asked
    {
        QString kind; // "save", "open", "text", "question", "information", "warning", "critical"
        QString caption;
        QString text;
        QString filter;
        QString dir;
    };
    QList<Asked> asked;
    QQueue<QString> fileNames;                   // answers for save/open file dialogs ("" = cancel)
    QQueue<QString> texts;                       // answers for getText; a null QString = cancel
    QQueue<QMessageBox::StandardButton> answers; // answers for questions
    std::function<int(QDialog &)> onExec;        // runs modal dialogs; default: dialog.exec()
    std::function<void(const QString &)> onMessage; // called as a message box would appear

    QStringList messages() const
    {
        QStringList result;
        for (const Asked &a : asked)
            if (a.kind == QLatin1String("information") || a.kind == QLatin1String("warning") ||
                a.kind == QLatin1String("critical"))
                result << a.text;
        return result;
    }

    QString getSaveFileName(QWidget *, const QString &caption, const QString &dir,
                            const QString &filter) override
    {
        asked.append({QStringLiteral("save"), caption, QString(), filter, dir});
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    QString getOpenFileName(QWidget *, const QString &caption, const QString &dir,
                            const QString &filter) override
    {
        asked.append({QStringLiteral("open"), caption, QString(), filter, dir});
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    QString getText(QWidget *, const QString &title, const QString &label, const QString &text,
                    bool *ok) override
    {
        asked.append({QStringLiteral("text"), title, label + QLatin1Char('|') + text, {}, {}});
        const QString answer = texts.isEmpty() ? QString() : texts.dequeue();
        if (ok)
            *ok = !answer.isNull();
        return answer.isNull() ? QString() : answer;
    }
    QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton defaultButton) override
    {
        asked.append({QStringLiteral("question"), title, text, {}, {}});
        return answers.isEmpty() ? defaultButton : answers.dequeue();
    }
    void information(QWidget *, const QString &text) override
    {
        asked.append({QStringLiteral("information"), QString(), text, {}, {}});
        if (onMessage)
            onMessage(text);
    }
    void warning(QWidget *, const QString &text) override
    {
        asked.append({QStringLiteral("warning"), QString(), text, {}, {}});
        if (onMessage)
            onMessage(text);
    }
    void critical(QWidget *, const QString &text) override
    {
        asked.append({QStringLiteral("critical"), QString(), text, {}, {}});
        if (onMessage)
            onMessage(text);
    }
    int exec(QDialog &dialog) override
    {
        asked.append({QStringLiteral("exec"), dialog.objectName(), QString(), {}, {}});
        return onExec ? onExec(dialog) : dialog.exec();
    }
};

// A throw-away application folder whose Lib is one of the test fixtures, so
// each test gets its own options.xml.
class FixtureAppDir
{
public:
    explicit FixtureAppDir(const QString &fixture = QStringLiteral("fake"))
    {
        const QString lib =
            QStringLiteral(KV930_FIXTURES_DIR "/") + fixture + QStringLiteral("/Lib");
        QFile::link(lib, m_dir.filePath(QStringLiteral("Lib")));
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Builds a window on the scripted fake meter; the prompt stays reachable.
struct WindowOnFake
{
    explicit WindowOnFake(const QString &fixture = QStringLiteral("fake")) : app(fixture)
    {
        auto scripted = std::make_unique<ScriptedPrompt>();
        prompt = scripted.get();
        window = std::make_unique<Widget>(app.path(), std::move(scripted));
    }
    ~WindowOnFake() { window.reset(); }

    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QAction *action(const char *name) const { return child<QAction>(name); }

    FixtureAppDir app;
    ScriptedPrompt *prompt = nullptr;
    std::unique_ptr<Widget> window;
};

#include <QPluginLoader>

// The scripted fake meter the window bound: the same plugin instance, reached
// through the library the fixture folder holds.
inline QObject *fakeMeter()
{
    QPluginLoader loader(QStringLiteral(KV930_FIXTURES_DIR "/fake/Lib/fakemeter.so"));
    QObject *instance = loader.instance();
    return instance;
}

inline void resetFake(QObject *fake)
{
    QMetaObject::invokeMethod(fake, "resetCounters");
    QMetaObject::invokeMethod(fake, "setOpenResult", Q_ARG(bool, true));
    QMetaObject::invokeMethod(fake, "setAutoOpened", Q_ARG(bool, true));
    QMetaObject::invokeMethod(fake, "setConverterPresent", Q_ARG(bool, true));
    if (fake->property("open").toBool())
        QMetaObject::invokeMethod(fake, "emitClosed");
}

// Makes dir a program folder of its own for the virtual meter: a copy of the
// driver (so it reads this folder's settings) and its settings file.
inline bool installVirtualMeter(const QTemporaryDir &dir, const QByteArray &settings)
{
    if (!QDir(dir.path()).mkpath(QStringLiteral("Lib")) ||
        !QFile::copy(QStringLiteral(KV930_BUILD_DIR "/Lib/virtualmeter.so"),
                     dir.filePath(QStringLiteral("Lib/virtualmeter.so"))))
        return false;
    QFile ini(dir.filePath(QStringLiteral("Lib/virtualmeter.ini")));
    return ini.open(QIODevice::WriteOnly) && ini.write(settings) == settings.size();
}

// Finds an action of the window by its object name.
inline QAction *windowAction(const Widget &w, const char *name)
{
    return w.findChild<QAction *>(QLatin1String(name));
}

// What Debian's sqlite3 answers to statement on the journal in journalFolder
// (rows one a line, columns split by '|').
inline QString journalQuery(const QString &journalFolder, const QString &statement)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
                 {QDir(journalFolder).filePath(QStringLiteral("journal.sqlite")), statement});
    sqlite.waitForFinished(30000);
    return QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed();
}
