#include "journaloptions.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

JournalOptions JournalOptions::fromSettings()
{
    // A file of its own: options.xml keeps its fixed layout.
    // ~/.config/kv930/kv930.conf on Linux.
    const QSettings settings(QStringLiteral("kv930"), QStringLiteral("kv930"));
    JournalOptions options;
    options.enabled = settings.value(QStringLiteral("journal/enabled"), true).toBool();
    options.folder = settings.value(QStringLiteral("journal/folder")).toString();
    return options;
}

JournalOptions JournalOptions::disabled()
{
    JournalOptions options;
    options.enabled = false;
    return options;
}

QString JournalOptions::defaultFolder()
{
    // Named for the program, whatever the application object is called.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("kv930"));
}
