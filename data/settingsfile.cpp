#include "settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDevice>
#include <QFileInfo>
#include <QIODevice>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

int hexDigitValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

QByteArray decodeHex(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;
    for (const QChar c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.append(char((high << 4) | digit));
            high = -1;
        }
    }
    return bytes;
}

bool isXmlWhitespace(QStringView text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u != ' ' && u != '\t' && u != '\n' && u != '\r')
            return false;
    }
    return true;
}

} // namespace

const char kInstalledMarker[] = "kv930.installed";

QString settingsFilePath(const QString &applicationDir)
{
    const QFileInfo folder(applicationDir);
    const bool installed =
        QFileInfo::exists(QDir(applicationDir).filePath(QLatin1String(kInstalledMarker)));
    if (!installed && folder.isDir() && folder.isWritable())
        return QDir(applicationDir).filePath(QStringLiteral("options.xml"));
    const QString configDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configDir);
    return QDir(configDir).filePath(QStringLiteral("options.xml"));
}

QString settingsFilePath()
{
    return settingsFilePath(QCoreApplication::applicationDirPath());
}

bool writeSettingsFile(QIODevice &device, const QByteArray &geometry, const QByteArray &state,
                       const QString &sceneFileName)
{
    if (!device.isWritable())
        return false;

    QXmlStreamWriter writer(&device);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("options"));
    writer.writeTextElement(QStringLiteral("Geometry"), QString::fromLatin1(geometry.toHex()));
    writer.writeTextElement(QStringLiteral("State"), QString::fromLatin1(state.toHex()));
    writer.writeTextElement(QStringLiteral("SceneFileName"), sceneFileName);
    writer.writeEndElement();
    writer.writeEndDocument();
    if (writer.hasError())
        return false;
    // A file buffers what it is given; a full disk only shows on the flush.
    // A failed write may already have been flushed, so the error state counts too.
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        return file->flush() && file->error() == QFileDevice::NoError;
    return true;
}

StoredSettings readSettingsFile(QIODevice &device)
{
    StoredSettings settings;
    if (!device.isReadable())
        return settings;

    QXmlStreamReader reader(&device);
    QString current;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.qualifiedName() != QLatin1String("options"))
                current = reader.qualifiedName().toString();
            break;
        case QXmlStreamReader::Characters: {
            // A QStringRef in Qt 5, a QStringView in Qt 6.
            const auto text = reader.text();
            if (current.isEmpty() || isXmlWhitespace(text))
                break;
            if (current == QLatin1String("Geometry")) {
                settings.geometry = decodeHex(text);
                settings.hasGeometry = true;
            } else if (current == QLatin1String("State")) {
                settings.state = decodeHex(text);
                settings.hasState = true;
            } else if (current == QLatin1String("SceneFileName")) {
                settings.sceneFileName = text.toString();
                settings.hasSceneFileName = true;
            }
            current.clear();
            break;
        }
        default:
            break;
        }
    }
    // An error simply ends the loop: whatever came before it is kept.
    return settings;
}
