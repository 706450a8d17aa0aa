// The .xlsx reading path on arbitrary bytes: the reader streams the table's
// rows out of the archive, and every row becomes a reading, as the window's
// import does.
#include "dmmdata.h"
#include "importrow.h"
#include "xlsxreader.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reader opens a path, so each input goes to one file of this process.
    static const QString path =
        QDir::tempPath() + QStringLiteral("/kv930-fuzz-xlsx-%1.xlsx").arg(getpid());
    static const QByteArray nativePath = QFile::encodeName(path);
    FILE *file = std::fopen(nativePath.constData(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size))
        std::abort();
    std::fclose(file);

    xlsx::readTable(path, [](const QVariantList &row) {
        std::unique_ptr<DmmData> reading(readingFromRow(row));
        // Touch what the table and chart would show of the reading.
        volatile int length = reading->valueText(reading->unit()).size() +
                              reading->dateTime().toString(Qt::ISODate).size() +
                              reading->waveLength();
        volatile double value = reading->value(QStringLiteral("dBm")); // -inf for 0 uW
        (void)length;
        (void)value;
    });
    return 0;
}
