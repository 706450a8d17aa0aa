// Window geometry, tool-bar state and the export path kept in options.xml.
#include "widget.h"

#include "prompt.h"
#include "settingsfile.h"

#include <QFile>
#include <QSaveFile>

QString Widget::settingsFilePath() const
{
    return ::settingsFilePath(m_applicationDir);
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
