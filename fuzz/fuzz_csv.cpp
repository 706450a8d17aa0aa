// The CSV reader on arbitrary bytes, as the window's import runs it: the
// readings it hands on are held and every field of each is read out, so that
// memory a file makes the reader take counts against the fuzzer's limits.
// The input's length picks how much of the file is read at a time (most
// often small pieces), so that records, quotes and line ends fall across
// them while the corpus stays plain CSV files.
#include "csvreader.h"
#include "fuzzinput.h"
#include "readingstore.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const qint64 pieceBytes = size % 3 == 0 ? qint64(1) << 20 : 1 + qint64(size % 61);
    const QString path = writeFuzzInput(data, size, "csv");
    const csv::ReadResult result = csv::readReadings(path, pieceBytes);
    if (!result.ok && result.readings.size() != 0)
        std::abort(); // a refused file hands on nothing
    const ReadingStore &readings = result.readings;
    volatile qint64 sum = 0;
    for (int i = 0; i < readings.size(); ++i) {
        const ReadingStore::Fields f = readings.fields(i);
        sum = sum + f.waveLength + f.storeNo + f.overload + f.unitText.size() + f.dateTime.ms % 7 +
              f.dmmDateTime.ms % 7;
        for (int u = 0; u < 3; ++u)
            sum = sum + readings.text(i, ReadingStore::Unit(u)).size() + f.decimals[u];
        sum = sum + readings.unit(i).size();
    }
    return 0;
}
