#include "csvwriter.h"

#include "csvtext.h"
#include "datamodel.h"
#include "readingstore.h"

#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace csv {

const char kHeader[] =
    "No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Display,Wavelength_nm,Loss_dB,Verdict";

namespace {
constexpr int BlockRows = 8192; // about a megabyte of text

void appendInt(std::string &out, long long value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, size_t(result.ptr - buffer));
}

void appendNumber(std::string &out, double value)
{
    char buffer[40];
    out.append(buffer, size_t(formatNumber(buffer, value)));
}

void appendText(std::string &out, const QString &text)
{
    if (text.isEmpty())
        return;
    // The meter's texts are plain ASCII numbers: no conversion needed.
    char ascii[32];
    const int n = text.size();
    bool plain = n <= int(sizeof ascii);
    for (int k = 0; plain && k < n; ++k) {
        const ushort c = text.at(k).unicode();
        plain = c >= 0x20 && c < 0x7F && c != ',' && c != '"';
        ascii[k] = char(c);
    }
    if (plain) {
        out.append(ascii, size_t(n));
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    appendField(out, utf8.constData(), size_t(utf8.size()));
}

void appendTime(std::string &out, const WallTime &time, TimeCache &times)
{
    char buffer[64];
    out.append(buffer, size_t(formatTime(buffer, time, times)));
}

bool flush(QIODevice &device, std::string &buffer, QString *errorMessage)
{
    if (buffer.empty())
        return true;
    if (device.write(buffer.data(), qint64(buffer.size())) != qint64(buffer.size())) {
        if (errorMessage)
            *errorMessage = device.errorString();
        return false;
    }
    buffer.clear();
    return true;
}
// Appends the rows first..end-1 of the table.
void formatRows(const ReadingStore &store, const DataModel &table, int first, int end,
                const DerivedColumns &derived, std::string &buffer)
{
    TimeCache times;
    for (int row = first; row < end; ++row) {
        const int i = table.readingIndex(row);
        appendInt(buffer, store.stored(i) ? store.storeNo(i) : row + 1LL);
        buffer.push_back(',');
        appendTime(buffer, store.dateTime(i), times);
        buffer.push_back(',');
        appendTime(buffer, store.dmmDateTime(i), times);
        buffer.push_back(',');
        // Over- and under-range readings carry the range limits as values,
        // which no one should take for a measured power.
        if (store.overload(i) == 0) {
            appendNumber(buffer, store.valueUW(i));
            buffer.push_back(',');
            appendNumber(buffer, store.valueMW(i));
            buffer.push_back(',');
            appendNumber(buffer, store.valueDBm(i));
            buffer.push_back(',');
        } else {
            buffer.append(",,,");
        }
        const ReadingStore::Unit unit = store.unitCode(i);
        if (unit <= ReadingStore::DBm)
            buffer.append(unit == ReadingStore::UW   ? "uW"
                          : unit == ReadingStore::MW ? "mW"
                                                     : "dBm");
        else
            appendText(buffer, store.unit(i));
        buffer.push_back(',');
        appendText(buffer, store.ownText(i));
        buffer.push_back(',');
        appendInt(buffer, store.waveLength(i));
        buffer.push_back(',');
        const Derived d = derived ? derived(i) : Derived();
        if (std::isfinite(d.lossDB))
            appendNumber(buffer, d.lossDB);
        buffer.push_back(',');
        if (d.verdict)
            buffer.append(d.verdict);
        buffer.append("\r\n");
    }
}
} // namespace

bool writeReadings(QIODevice &device, const DataModel &table, const DerivedColumns &derived,
                   QString *errorMessage)
{
    std::string header = kHeader;
    header.append("\r\n");
    if (!flush(device, header, errorMessage))
        return false;
    const ReadingStore *store = table.store();
    const int rows = store ? table.rowCount() : 0;
    const int blocks = (rows + BlockRows - 1) / BlockRows;

    // Formatting costs several times what writing does: blocks of rows are
    // formatted on a few threads, a round ahead, while this one writes the
    // last round in order. Nothing else touches the store meanwhile, since
    // readings are only added on this thread.
    const int perRound = std::clamp(QThread::idealThreadCount(), 1, 8);
    using Round = std::vector<std::string>;
    auto startRound = [&](int round, Round &out) {
        std::vector<std::future<void>> jobs;
        for (int k = 0; k < perRound; ++k) {
            const int block = round * perRound + k;
            out[size_t(k)].clear();
            if (block >= blocks)
                continue;
            // With no thread to be had the block is formatted when waited for.
            std::string *target = &out[size_t(k)];
            jobs.push_back(
                std::async(std::launch::async | std::launch::deferred, [&, block, target] {
                    formatRows(*store, table, block * BlockRows,
                               std::min(rows, (block + 1) * BlockRows), derived, *target);
                }));
        }
        return jobs;
    };
    Round current{Round(size_t(perRound))}, following{Round(size_t(perRound))};
    std::vector<std::future<void>> jobs = startRound(0, current);
    for (int round = 0; round * perRound < blocks; ++round) {
        for (std::future<void> &job : jobs)
            job.wait();
        jobs = startRound(round + 1, following);
        for (std::string &block : current) {
            if (!flush(device, block, errorMessage)) {
                for (std::future<void> &job : jobs)
                    job.wait();
                return false;
            }
        }
        std::swap(current, following);
    }
    return true;
}

bool writeReadings(const QString &path, const DataModel &table, const DerivedColumns &derived,
                   QString *errorMessage)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorMessage)
            *errorMessage = file.errorString();
        return false;
    }
    if (!writeReadings(file, table, derived, errorMessage)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (errorMessage)
            *errorMessage = file.errorString();
        return false;
    }
    return true;
}

} // namespace csv
