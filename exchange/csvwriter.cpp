#include "csvwriter.h"

#include "csvtext.h"
#include "datamodel.h"
#include "readingstore.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <sched.h>
#include <string>
#include <system_error>
#include <thread>
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
        // The meter's text is mostly its value in fixed point: printed here
        // without a QString, whose allocation per row the formatting threads
        // would otherwise contend for.
        const int decimals = store.ownTextDecimals(i);
        if (decimals >= 0) {
            char *q = out.room(340);
            out.advance(q + formatFixed(q, store.value(i, unit), decimals));
        } else {
            putText(out, store.ownText(i));
        }
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

// Processors this process may run on (its affinity mask), at least one.
int availableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, QThread::idealThreadCount());
}

// Blocks of rows formatted by a few threads and handed to the writing thread
// in order through a ring of buffers. A formatting thread that falls behind
// (on a busy machine) holds back only its own block, never the others, which
// go on up to a ring ahead; every wait is on a condition, none spins, and no
// more than a ring of text is held at once.
class FormatPipeline
{
public:
    using Format = std::function<void(int block, std::string &text)>;

    FormatPipeline(int blocks, int threads, Format format)
        : m_blocks(blocks), m_format(std::move(format)), m_ring(size_t(2 * threads + 2)),
          m_ready(m_ring.size(), false)
    {
        for (int k = 0; k < std::min(threads, blocks); ++k) {
            try {
                m_threads.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                break; // no more threads to be had: those there are do the work
            }
        }
    }
    ~FormatPipeline()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_room.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }
    FormatPipeline(const FormatPipeline &) = delete;
    FormatPipeline &operator=(const FormatPipeline &) = delete;

    // The text of the next block in order, once formatted; null when a
    // formatting thread failed (out of memory).
    const std::string *next()
    {
        if (m_threads.empty()) {
            // Not one thread to be had: the block is formatted here, in turn.
            std::string &text = m_ring[slot(m_written)];
            try {
                text.clear();
                m_format(m_written, text);
            } catch (const std::bad_alloc &) {
                return nullptr;
            }
            return &text;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_formatted.wait(lock, [this] { return m_failed || m_ready[slot(m_written)]; });
        return m_failed ? nullptr : &m_ring[slot(m_written)];
    }
    // The block next() gave has been written: its buffer takes a later block.
    void written()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready[slot(m_written)] = false;
            ++m_written;
        }
        m_room.notify_one();
    }

private:
    size_t slot(int block) const { return size_t(block) % m_ring.size(); }

    void work()
    {
        for (;;) {
            int block;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_room.wait(lock, [this] {
                    return m_stopping || m_claimed >= m_blocks ||
                           m_claimed < m_written + int(m_ring.size());
                });
                if (m_stopping || m_claimed >= m_blocks)
                    return;
                block = m_claimed++;
            }
            // The buffer is this thread's alone: its previous block was written.
            std::string &text = m_ring[slot(block)];
            bool ok = true;
            try {
                text.clear();
                m_format(block, text);
            } catch (const std::bad_alloc &) {
                ok = false;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_ready[slot(block)] = ok;
                m_failed = m_failed || !ok;
            }
            m_formatted.notify_one();
        }
    }

    const int m_blocks;
    const Format m_format;
    std::vector<std::string> m_ring;
    std::vector<bool> m_ready; // per buffer: holds its block's text, not yet written
    std::mutex m_mutex;
    std::condition_variable m_formatted; // the writer waits for the next block
    std::condition_variable m_room;      // formatting threads wait for a free buffer
    int m_claimed = 0;
    int m_written = 0;
    bool m_failed = false;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
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
    if (blocks == 0)
        return true;

    // Formatting costs several times what writing does: one formatting
    // thread per processor this process may use, while this one writes the
    // blocks in order. Nothing else touches the store meanwhile, since
    // readings are only added on this thread.
    FormatPipeline pipeline(blocks, std::clamp(availableCores(), 1, 8),
                            [&](int block, std::string &text) {
                                formatRows(*store, table, block * BlockRows,
                                           std::min(rows, (block + 1) * BlockRows), derived, text);
                            });
    for (int block = 0; block < blocks; ++block) {
        const std::string *text = pipeline.next();
        if (!text) {
            if (errorMessage)
                *errorMessage = QCoreApplication::translate("csv", "Out of memory.");
            return false;
        }
        if (device.write(text->data(), qint64(text->size())) != qint64(text->size())) {
            if (errorMessage)
                *errorMessage = device.errorString();
            return false;
        }
        pipeline.written();
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
