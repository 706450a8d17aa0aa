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
    "No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Display,Wavelength_nm,Loss_dB,Verdict,"
    "Stored";

namespace {
constexpr int BlockRows = 8192; // about a megabyte of text

// Writes into a string through a pointer, growing it in large steps: a row
// is some twenty small pieces, and appending each through std::string costs
// more than formatting it.
class Cursor
{
public:
    explicit Cursor(std::string &out) : m_out(out), m_used(out.size()) {}
    ~Cursor() { m_out.resize(m_used); }
    Cursor(const Cursor &) = delete;
    Cursor &operator=(const Cursor &) = delete;

    // Room for n more bytes; advance() says how many were written.
    char *room(size_t n)
    {
        if (m_used + n > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_used + n + 4096));
        return &m_out[m_used];
    }
    void advance(char *end) { m_used = size_t(end - m_out.data()); }
    void put(const char *text, size_t n)
    {
        std::memcpy(room(n), text, n);
        m_used += n;
    }

private:
    std::string &m_out;
    size_t m_used;
};

char *putInt(char *p, long long value)
{
    return std::to_chars(p, p + 24, value).ptr;
}

char *putNumber(char *p, double value)
{
    return p + formatNumber(p, value);
}

void putText(Cursor &out, const QString &text)
{
    // The meter's texts are plain ASCII numbers: no conversion, no quotes.
    const int n = text.size();
    if (n <= 32) {
        char *p = out.room(size_t(n) + 1); // room for a formula guard
        int k = 0;
        for (; k < n; ++k) {
            const ushort c = text.at(k).unicode();
            if (c < 0x20 || c >= 0x7F || c == ',' || c == '"')
                break;
            p[k] = char(c);
        }
        if (k == n) {
            if (needsFormulaGuard(p, size_t(n))) {
                std::memmove(p + 1, p, size_t(n));
                *p = '\'';
                out.advance(p + n + 1);
            } else {
                out.advance(p + n);
            }
            return;
        }
    }
    const QByteArray utf8 = text.toUtf8();
    std::string field;
    appendTextField(field, utf8.constData(), size_t(utf8.size()));
    out.put(field.data(), field.size());
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
    static const char *const unitNames[] = {"uW", "mW", "dBm"};
    Cursor out(buffer);
    TimeCache times;
    for (int row = first; row < end; ++row) {
        const int i = table.readingIndex(row);
        // Number, times and powers: well under 256 bytes.
        char *p = out.room(256);
        p = putInt(p, store.stored(i) ? store.storeNo(i) : row + 1LL);
        *p++ = ',';
        p += formatTime(p, store.dateTime(i), times);
        *p++ = ',';
        p += formatTime(p, store.dmmDateTime(i), times);
        *p++ = ',';
        // Over- and under-range readings carry the range limits as values,
        // which no one should take for a measured power.
        if (store.overload(i) == 0) {
            p = putNumber(p, store.valueUW(i));
            *p++ = ',';
            p = putNumber(p, store.valueMW(i));
            *p++ = ',';
            p = putNumber(p, store.valueDBm(i));
        } else {
            *p++ = ',';
            *p++ = ',';
        }
        *p++ = ',';
        const ReadingStore::Unit unit = store.unitCode(i);
        if (unit <= ReadingStore::DBm) {
            const size_t n = unit == ReadingStore::DBm ? 3 : 2;
            std::memcpy(p, unitNames[unit], n);
            p += n;
            out.advance(p);
        } else {
            out.advance(p);
            putText(out, store.unit(i));
        }
        out.put(",", 1);
        putText(out, store.ownText(i));
        const Derived d = derived ? derived(i) : Derived();
        const size_t verdict = d.verdict ? std::strlen(d.verdict) : 0;
        // Wavelength, loss, verdict, stored and line end.
        p = out.room(64 + verdict);
        *p++ = ',';
        p = putInt(p, store.waveLength(i));
        *p++ = ',';
        if (std::isfinite(d.lossDB))
            p = putNumber(p, d.lossDB);
        *p++ = ',';
        std::memcpy(p, d.verdict, verdict);
        p += verdict;
        *p++ = ',';
        *p++ = store.stored(i) ? '1' : '0';
        *p++ = '\r';
        *p++ = '\n';
        out.advance(p);
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
