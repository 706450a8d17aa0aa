// The options.xml reader on arbitrary bytes, and the promise that what it read
// survives a write and a second read unchanged.
#include "settingsfile.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Names the writer is expected to carry through XML unchanged: not blank, no
// control characters other than tab and line feed (XML turns a carriage
// return into a line feed).
bool carriesThrough(const QString &name)
{
    if (name.trimmed().isEmpty())
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            return false;
    return true;
}

void fail(const char *what)
{
    std::fprintf(stderr, "settings round trip changed the %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    const StoredSettings read = readSettingsFile(input);

    QByteArray written;
    QBuffer output(&written);
    output.open(QIODevice::WriteOnly);
    if (!writeSettingsFile(output, read.geometry, read.state, read.sceneFileName))
        fail("write result");
    output.close();

    QBuffer again(&written);
    again.open(QIODevice::ReadOnly);
    const StoredSettings reread = readSettingsFile(again);
    if (reread.geometry != read.geometry)
        fail("geometry");
    if (reread.state != read.state)
        fail("tool-bar state");
    if (read.hasSceneFileName && carriesThrough(read.sceneFileName) &&
        reread.sceneFileName != read.sceneFileName)
        fail("scene file name");
    return 0;
}
