#pragma once

// The file readers take a path: each input goes to one file of the process
// (named with its suffix), written afresh for every input.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

inline QString writeFuzzInput(const uint8_t *data, size_t size, const char *suffix)
{
    static const QString path =
        QDir::tempPath() +
        QStringLiteral("/kv930-fuzz-%1.%2").arg(getpid()).arg(QLatin1String(suffix));
    static const QByteArray nativePath = QFile::encodeName(path);
    FILE *file = std::fopen(nativePath.constData(), "wb");
    if (!file)
        std::abort();
    if (size && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    return path;
}
