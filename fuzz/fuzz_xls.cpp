// The .xls reading path on arbitrary bytes: the reader streams the table's
// rows out of the file, and every row becomes a reading, as the window's
// import does.
#include "dmmdata.h"
#include "importrow.h"
#include "xlsreader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The reader takes a path, so each input goes to one file of this process.
const QString &inputPath()
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/kv930-fuzz-xls-%1.xls").arg(getpid());
    return path;
}

void writeInput(const uint8_t *data, size_t size)
{
    static const QByteArray nativePath = QFile::encodeName(inputPath());
    FILE *file = std::fopen(nativePath.constData(), "wb");
    if (!file)
        std::abort();
    if (size && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeInput(data, size);
    xls::readTable(inputPath(), [](const QVariantList &row) {
        DmmData *reading = readingFromRow(row);
        if (!reading)
            return;
        // Touch what the table and chart would show of the reading.
        for (const QString &unit :
             {QStringLiteral("uW"), QStringLiteral("mW"), QStringLiteral("dBm"), reading->unit()}) {
            volatile double value = reading->value(unit);
            (void)value;
            volatile int length = reading->valueText(unit).size();
            (void)length;
        }
        volatile int wave = reading->waveLength();
        (void)wave;
        volatile int timeLength = reading->dateTime().toString(Qt::ISODate).size();
        (void)timeLength;
        delete reading;
    });
    return 0;
}
