// The .xls reading path on arbitrary bytes: the reader streams the table's
// rows out of the file, and every row becomes a reading held in a store, as
// the window's import does, so that the readings a file yields count against
// the fuzzer's memory limits. Every field of each reading is then read out.
#include "fuzzinput.h"
#include "importrow.h"
#include "reading.h"
#include "readingstore.h"
#include "xlsreader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeFuzzInput(data, size, "xls");
    ReadingStore readings;
    xls::readTable(path,
                   [&readings](const QVariantList &row) { readings.append(fieldsOfRow(row)); });
    volatile qint64 sum = 0;
    volatile double values = 0.0;
    for (int i = 0; i < readings.size(); ++i) {
        const Reading r = readings.at(i);
        sum = sum + r.waveLength + r.overload + r.unit.size() + r.textUW.size() + r.textMW.size() +
              r.textDBm.size() + r.dateTime.toString(Qt::ISODate).size();
        for (const ReadingStore::Unit unit :
             {ReadingStore::UW, ReadingStore::MW, ReadingStore::DBm, readings.unitCode(i)}) {
            values = values + readings.value(i, unit);
            sum = sum + readings.text(i, unit).size();
        }
    }
    return 0;
}
