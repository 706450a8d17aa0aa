// Window geometry, tool-bar state and the export path kept in options.xml.
#include "widget.h"

#include "prompt.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString Widget::settingsFilePath() const
{
    // Beside the program where its folder is writable (a portable install);
    // otherwise, as for a system-wide install, in the user's configuration folder.
    const QFileInfo folder(m_applicationDir);
    if (folder.isDir() && folder.isWritable())
        return QDir(m_applicationDir).filePath(QStringLiteral("options.xml"));
    const QString configDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configDir);
    return QDir(configDir).filePath(QStringLiteral("options.xml"));
}

void Widget::saveSettings()
{
    // Written to a temporary file and renamed into place, so a failed write
    // never leaves a truncated file behind.
    QSaveFile file(settingsFilePath());
    if (!file.open(QIODevice::WriteOnly) ||
        !writeSettingsFile(file, saveGeometry(), saveState(0), sceneFileName) || !file.commit()) {
        file.cancelWriting();
        m_prompt->warning(this, tr("Can not open file."));
    }
}

void Widget::restoreSettings()
{
    QFile file(settingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const StoredSettings settings = readSettingsFile(file);
    if (settings.hasGeometry)
        restoreGeometry(settings.geometry);
    if (settings.hasState)
        restoreState(settings.state, 0);
    if (settings.hasSceneFileName)
        sceneFileName = settings.sceneFileName;
}
