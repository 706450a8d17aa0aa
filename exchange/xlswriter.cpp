#include "xlswriter.h"

#include "biffrecords.h"
#include "tablesource.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <QVector>
#include <QtEndian>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace xls {
namespace {

// Largest payload of one BIFF8 record; longer data goes on in CONTINUE records.
constexpr int kMaxRecordData = 8224;
// Excel refuses longer cell texts.
constexpr int kMaxTextLength = 32767;
// A LABEL record holds at most this many characters; longer texts are shared strings.
constexpr int kMaxLabelLength = 255;
// Stream offsets (sheet positions) and the container's stream size are 32 bits.
constexpr quint64 kMaxStreamSize = 0xFFFF0000u;
// Bytes collected before they go to the container.
constexpr int kChunk = 256 * 1024;

// Cell formats written after the fifteen style XFs.
constexpr quint16 kXfDefault = 15;
constexpr quint16 kXfDateTime = 16;
constexpr quint16 kXfText = 17;
constexpr quint16 kFormatDateTime = 164; // first index free for custom formats
constexpr quint16 kFormatText = 49;      // built-in "@"

const char kDateTimeFormat[] = "yyyy-MM-dd hh:mm:ss";
constexpr int kDateTimeWidth = int(sizeof(kDateTimeFormat)) - 1;

constexpr int kColumns = RowCells::kColumns;

class Buffer
{
public:
    explicit Buffer(QByteArray &bytes) : m_bytes(bytes) {}
    void u8(quint8 v) { m_bytes.append(char(v)); }
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        m_bytes.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        m_bytes.append(b, 4);
    }
    void f64(double v)
    {
        char b[8];
        qToLittleEndian(v, b);
        m_bytes.append(b, 8);
    }
    void raw(const QByteArray &b) { m_bytes.append(b); }

private:
    QByteArray &m_bytes;
};

bool fitsLatin1(const QString &s)
{
    return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.unicode() < 0x100; });
}

// Characters of a string as stored: one byte each when every character fits,
// UTF-16LE otherwise.
QByteArray encodeChars(const QString &s, bool wide)
{
    if (!wide)
        return s.toLatin1();
    QByteArray out;
    out.resize(s.size() * 2);
    qToLittleEndian<quint16>(s.utf16(), s.size(), out.data());
    return out;
}

// Short strings with a one-byte length (sheet and font names).
QByteArray shortString(const QString &s)
{
    const QString t = s.left(255);
    const bool wide = !fitsLatin1(t);
    QByteArray out;
    Buffer b(out);
    b.u8(quint8(t.size()));
    b.u8(wide ? 1 : 0);
    b.raw(encodeChars(t, wide));
    return out;
}

QByteArray longString(const QString &s)
{
    const bool wide = !fitsLatin1(s);
    QByteArray out;
    Buffer b(out);
    b.u16(quint16(s.size()));
    b.u8(wide ? 1 : 0);
    b.raw(encodeChars(s, wide));
    return out;
}

// Characters of a number's shortest text (as readers show it), for widths.
int numberTextLength(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest).size();
}

// Decimal digits of an integer, sign included: never fewer characters than
// its shortest text.
int integerTextBound(double v)
{
    double a = std::abs(v);
    int n = v < 0 ? 2 : 1;
    while (a >= 10.0) {
        a /= 10.0;
        ++n;
    }
    return n;
}

// Why a write attempt stopped.
enum class Outcome
{
    Written,
    Failed,
    NeedsSharedStrings, // a text too long for its cell turned up
};

// Texts too long for a LABEL record, numbered in the shared string table.
struct SharedStrings
{
    QStringList strings;
    QHash<QString, quint32> index;
    quint32 total = 0; // cells that refer to them
};

// The workbook stream, written record by record into the container.
class StreamWriter
{
public:
    explicit StreamWriter(GsfOutput *out) : m_out(out) { m_buf.reserve(kChunk + 65536); }

    quint64 pos() const { return m_flushed + quint64(m_buf.size()); }
    bool failed() const { return m_failed; }
    QByteArray &buffer() { return m_buf; }

    void record(quint16 id, const QByteArray &data)
    {
        Buffer b(m_buf);
        b.u16(id);
        b.u16(quint16(data.size()));
        b.raw(data);
        maybeFlush();
    }

    void maybeFlush()
    {
        if (m_buf.size() >= kChunk)
            flush();
    }

    bool flush()
    {
        if (m_failed)
            return false;
        if (!m_buf.isEmpty()) {
            if (!gsf_output_write(m_out, size_t(m_buf.size()),
                                  reinterpret_cast<const guint8 *>(m_buf.constData())))
                m_failed = true;
            m_flushed += quint64(m_buf.size());
            m_buf.clear();
        }
        return !m_failed;
    }

    // Overwrites bytes already written; afterwards writing goes on at the end.
    bool patch(quint64 at, const QByteArray &bytes)
    {
        if (!flush())
            return false;
        if (!gsf_output_seek(m_out, gsf_off_t(at), G_SEEK_SET) ||
            !gsf_output_write(m_out, size_t(bytes.size()),
                              reinterpret_cast<const guint8 *>(bytes.constData())) ||
            !gsf_output_seek(m_out, 0, G_SEEK_END))
            m_failed = true;
        return !m_failed;
    }

private:
    GsfOutput *m_out;
    QByteArray m_buf;
    quint64 m_flushed = 0;
    bool m_failed = false;
};

class WorkbookWriter
{
public:
    WorkbookWriter(const QStringList &headers, const TableSource &source,
                   const SharedStrings &shared, StreamWriter &out)
        : m_headers(headers), m_source(source), m_shared(shared), m_out(out)
    {
        m_widths.fill(0, kColumns);
    }

    Outcome write(QString *error)
    {
        const int rows = std::max(0, m_source.rowCount());
        const int sheets = std::max(1, (rows + kDataRowsPerSheet - 1) / kDataRowsPerSheet);

        QVector<quint64> sheetOffsetFields;
        writeGlobals(sheets, &sheetOffsetFields);

        QVector<quint64> sheetStarts;
        QVector<quint64> colInfoStarts;
        RowCells cells;
        for (int s = 0; s < sheets; ++s) {
            const int first = s * kDataRowsPerSheet;
            const int count = std::min(kDataRowsPerSheet, rows - first);
            sheetStarts.append(m_out.pos());
            writeBof(0x0010);
            colInfoStarts.append(m_out.pos());
            writeColInfo();
            writeDimensions(1 + std::max(0, count));
            writeHeader();
            for (int r = 0; r < count && !m_stop; ++r) {
                m_source.row(first + r, cells);
                writeRow(cells, quint16(r + 1));
                m_out.maybeFlush();
            }
            if (m_stop)
                return Outcome::NeedsSharedStrings;
            writeWindow2(s == 0);
            m_out.record(RecEof, QByteArray());
            if (m_out.failed() || m_out.pos() > kMaxStreamSize)
                break;
        }
        if (m_out.pos() > kMaxStreamSize) {
            *error = QStringLiteral("the table is too large for one .xls workbook");
            return Outcome::Failed;
        }

        // Sheet positions and fitted column widths are known only now.
        for (int s = 0; s < sheets && !m_out.failed(); ++s) {
            QByteArray offset(4, '\0');
            qToLittleEndian<quint32>(quint32(sheetStarts.at(s)), offset.data());
            m_out.patch(sheetOffsetFields.at(s), offset);
            for (int c = 0; c < kColumns; ++c) {
                QByteArray width(2, '\0');
                qToLittleEndian<quint16>(columnWidth(c), width.data());
                // COLINFO: 4 bytes of header, then first, last, width.
                m_out.patch(colInfoStarts.at(s) + quint64(c) * 16 + 8, width);
            }
        }
        if (!m_out.flush()) {
            *error = QStringLiteral("cannot write the workbook");
            return Outcome::Failed;
        }
        return Outcome::Written;
    }

private:
    static quint16 xfOf(int column)
    {
        return column == 0 ? kXfDefault : (column == 1 ? kXfDateTime : kXfText);
    }

    // Width in 1/256 of a character, with room for the cell margins.
    quint16 columnWidth(int c) const { return quint16(std::min(255, m_widths[c] + 2) * 256); }

    void fitWidth(int column, int chars)
    {
        if (chars > m_widths[column])
            m_widths[column] = chars;
    }

    // Row, column and XF of a cell record whose body is len bytes long.
    char *cellRecord(quint16 id, int len, quint16 row, quint16 col, quint16 xf)
    {
        QByteArray &buf = m_out.buffer();
        const int at = buf.size();
        buf.resize(at + 4 + len);
        char *p = buf.data() + at;
        qToLittleEndian<quint16>(id, p);
        qToLittleEndian<quint16>(quint16(len), p + 2);
        qToLittleEndian<quint16>(row, p + 4);
        qToLittleEndian<quint16>(col, p + 6);
        qToLittleEndian<quint16>(xf, p + 8);
        return p + 10;
    }

    void textCell(quint16 row, quint16 col, quint16 xf, const QString &text)
    {
        const QString t = text.size() > kMaxTextLength ? text.left(kMaxTextLength) : text;
        fitWidth(col, t.size());
        if (t.size() > kMaxLabelLength) {
            const auto it = m_shared.index.constFind(t);
            if (it == m_shared.index.constEnd()) {
                m_stop = true;
                return;
            }
            char *p = cellRecord(RecLabelSst, 10, row, col, xf);
            qToLittleEndian<quint32>(it.value(), p);
            return;
        }
        const int n = t.size();
        const QChar *chars = t.constData();
        bool wide = false;
        for (int i = 0; i < n && !wide; ++i)
            wide = chars[i].unicode() >= 0x100;
        char *p = cellRecord(RecLabel, 6 + 3 + n * (wide ? 2 : 1), row, col, xf);
        qToLittleEndian<quint16>(quint16(n), p);
        p[2] = wide ? 1 : 0;
        p += 3;
        if (wide) {
            qToLittleEndian<quint16>(t.utf16(), n, p);
        } else {
            for (int i = 0; i < n; ++i)
                p[i] = char(chars[i].unicode());
        }
    }

    void numberCell(quint16 row, quint16 col, quint16 xf, double v)
    {
        const double rounded = std::nearbyint(v);
        if (rounded == v && std::abs(v) < double(1 << 29)) {
            // Integers below 2^29 fit an RK value: 30 bits shifted left, flag 2.
            char *p = cellRecord(RecRk, 10, row, col, xf);
            qToLittleEndian<quint32>((quint32(qint32(rounded)) << 2) | 0x2, p);
        } else {
            char *p = cellRecord(RecNumber, 14, row, col, xf);
            qToLittleEndian<double>(v, p);
        }
    }

    void writeHeader()
    {
        for (int c = 0; c < kColumns && c < m_headers.size(); ++c)
            textCell(0, quint16(c), kXfDefault, m_headers.at(c));
    }

    void writeRow(const RowCells &cells, quint16 row)
    {
        for (int c = 0; c < kColumns; ++c) {
            const TableCell &cell = cells.cells[size_t(c)];
            const quint16 col = quint16(c);
            const quint16 xf = xfOf(c);
            switch (cell.kind) {
            case TableCell::Empty:
                break;
            case TableCell::Time:
                if (wallClockInSheetRange(cell.wallMsecs)) {
                    numberCell(row, col, xf, wallClockSerialDays(cell.wallMsecs));
                    fitWidth(c, kDateTimeWidth);
                } else {
                    textCell(row, col, xf, cell.displayText());
                }
                break;
            case TableCell::Number:
                if (std::isfinite(cell.number)) {
                    numberCell(row, col, xf, cell.number);
                    // Widths only grow: the exact text is needed only when
                    // the number may be longer than the widest so far.
                    const bool integer = cell.number == std::trunc(cell.number);
                    if (!integer || integerTextBound(cell.number) > m_widths[c])
                        fitWidth(c, numberTextLength(cell.number));
                } else {
                    textCell(row, col, xf, cell.displayText());
                }
                break;
            case TableCell::Text:
                textCell(row, col, xf, cell.text);
                break;
            }
        }
    }

    void writeGlobals(int sheets, QVector<quint64> *sheetOffsetFields)
    {
        writeBof(0x0005);
        {
            QByteArray d;
            Buffer(d).u16(1200); // strings are UTF-16
            m_out.record(RecCodepage, d);
        }
        {
            QByteArray d;
            Buffer b(d);
            b.u16(0x0000); // window position and size in twips
            b.u16(0x0000);
            b.u16(0x4000);
            b.u16(0x2000);
            b.u16(0x0038); // show scroll bars and sheet tabs
            b.u16(0);      // active sheet
            b.u16(0);      // first visible tab
            b.u16(1);      // selected tabs
            b.u16(600);    // tab bar width
            m_out.record(RecWindow1, d);
        }
        {
            QByteArray d;
            Buffer(d).u16(0); // 1900 date system
            m_out.record(RecDateMode, d);
        }
        // Font index 4 does not exist in BIFF, so four records give 0..3.
        for (int i = 0; i < 4; ++i) {
            QByteArray d;
            Buffer b(d);
            b.u16(200);    // 10 pt in twips
            b.u16(0);      // no attributes
            b.u16(0x7FFF); // automatic colour
            b.u16(400);    // normal weight
            b.u16(0);
            b.u8(0);
            b.u8(0);
            b.u8(0);
            b.u8(0);
            b.raw(shortString(QStringLiteral("Arial")));
            m_out.record(RecFont, d);
        }
        {
            QByteArray d;
            Buffer b(d);
            b.u16(kFormatDateTime);
            b.raw(longString(QString::fromLatin1(kDateTimeFormat)));
            m_out.record(RecFormat, d);
        }
        for (int i = 0; i < 15; ++i)
            writeXf(0, true);
        writeXf(0, false);
        writeXf(kFormatDateTime, false);
        writeXf(kFormatText, false);
        {
            QByteArray d;
            Buffer b(d);
            b.u16(0x8000); // built-in style of XF 0
            b.u8(0);       // "Normal"
            b.u8(0xFF);
            m_out.record(RecStyle, d);
        }
        for (int s = 0; s < sheets; ++s) {
            QByteArray d;
            Buffer b(d);
            b.u32(0); // sheet BOF position, filled in once known
            b.u8(0);  // visible
            b.u8(0);  // worksheet
            b.raw(shortString(QStringLiteral("Sheet%1").arg(s + 1)));
            sheetOffsetFields->append(m_out.pos() + 4);
            m_out.record(RecBoundSheet, d);
        }
        writeSst();
        m_out.record(RecEof, QByteArray());
    }

    void writeBof(quint16 type)
    {
        QByteArray d;
        Buffer b(d);
        b.u16(0x0600); // BIFF8
        b.u16(type);
        b.u16(0x0DBB); // build
        b.u16(0x07CC); // year
        b.u32(0x000080C9);
        b.u32(0x00000206);
        m_out.record(RecBof, d);
    }

    void writeXf(quint16 format, bool style)
    {
        QByteArray d;
        Buffer b(d);
        b.u16(0); // font
        b.u16(format);
        b.u16(style ? 0xFFF5 : 0x0001); // locked; style XFs have no parent
        b.u8(0x20);                     // bottom aligned
        b.u8(0);
        b.u8(0);
        b.u8(style ? 0xF4 : (format != 0 ? 0x04 : 0x00)); // own number format
        b.u32(0);                                         // no borders
        b.u32(0);
        b.u16(0x20C0); // automatic fore and back colours
        m_out.record(RecXf, d);
    }

    // The shared string table, split into CONTINUE records at the record
    // limit. A string's header never splits; its characters may, and the
    // continuation then starts with the string's flag byte again.
    void writeSst()
    {
        const QStringList &strings = m_shared.strings;
        const int count = strings.size();
        const int perBucket = std::max(8, (count + 127) / 128);
        QVector<QPair<quint32, quint16>> buckets;

        QByteArray payload;
        Buffer p(payload);
        p.u32(m_shared.total);
        p.u32(quint32(count));
        quint16 id = RecSst;
        auto flush = [&]() {
            m_out.record(id, payload);
            payload.clear();
            id = RecContinue;
        };

        for (int i = 0; i < count; ++i) {
            const QString &s = strings.at(i);
            const bool wide = !fitsLatin1(s);
            const int charSize = wide ? 2 : 1;
            const int needed = 3 + (s.isEmpty() ? 0 : charSize);
            if (payload.size() + needed > kMaxRecordData)
                flush();
            if (i % perBucket == 0)
                buckets.append({quint32(m_out.pos() + 4 + quint64(payload.size())),
                                quint16(4 + payload.size())});
            p.u16(quint16(s.size()));
            p.u8(wide ? 1 : 0);
            const QByteArray chars = encodeChars(s, wide);
            int done = 0;
            while (done < chars.size()) {
                int room = (kMaxRecordData - payload.size()) / charSize * charSize;
                if (room == 0) {
                    flush();
                    p.u8(wide ? 1 : 0);
                    room = (kMaxRecordData - payload.size()) / charSize * charSize;
                }
                const int n = std::min(room, int(chars.size()) - done);
                payload.append(chars.constData() + done, n);
                done += n;
            }
        }
        flush();

        QByteArray ext;
        Buffer e(ext);
        e.u16(quint16(perBucket));
        for (const auto &bucket : buckets) {
            e.u32(bucket.first);
            e.u16(bucket.second);
            e.u16(0);
        }
        m_out.record(RecExtSst, ext);
    }

    // Widths are placeholders here; the fitted ones are patched in at the end.
    void writeColInfo()
    {
        for (int c = 0; c < kColumns; ++c) {
            QByteArray d;
            Buffer b(d);
            b.u16(quint16(c));
            b.u16(quint16(c));
            b.u16(0);
            b.u16(xfOf(c));
            b.u16(0);
            b.u16(0);
            m_out.record(RecColInfo, d);
        }
    }

    void writeDimensions(int rows)
    {
        QByteArray d;
        Buffer b(d);
        b.u32(0);
        b.u32(quint32(rows));
        b.u16(0);
        b.u16(quint16(kColumns));
        b.u16(0);
        m_out.record(RecDimensions, d);
    }

    void writeWindow2(bool first)
    {
        QByteArray d;
        Buffer b(d);
        b.u16(first ? 0x06B6 : 0x04B6); // gridlines, headers, zeros; first sheet selected
        b.u16(0);                       // top row
        b.u16(0);                       // left column
        b.u32(0x40);                    // automatic grid colour
        b.u16(0);
        b.u16(0);
        b.u32(0);
        m_out.record(RecWindow2, d);
    }

    const QStringList &m_headers;
    const TableSource &m_source;
    const SharedStrings &m_shared;
    StreamWriter &m_out;
    QVector<int> m_widths;
    bool m_stop = false;
};

// The texts too long for their cells, in the order they first appear.
SharedStrings collectSharedStrings(const QStringList &headers, const TableSource &source)
{
    SharedStrings shared;
    auto add = [&shared](const QString &text) {
        const QString t = text.size() > kMaxTextLength ? text.left(kMaxTextLength) : text;
        if (t.size() <= kMaxLabelLength)
            return;
        ++shared.total;
        if (!shared.index.contains(t)) {
            shared.index.insert(t, quint32(shared.strings.size()));
            shared.strings.append(t);
        }
    };
    for (int c = 0; c < kColumns && c < headers.size(); ++c)
        add(headers.at(c));
    const int rows = source.rowCount();
    RowCells cells;
    for (int r = 0; r < rows; ++r) {
        source.row(r, cells);
        for (const TableCell &cell : cells.cells) {
            // Times and numbers that cannot be cells are written as their text.
            if (cell.kind == TableCell::Text)
                add(cell.text);
        }
    }
    return shared;
}

bool startGsf()
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
    return true;
}

// One complete write into a temporary file beside the target, renamed into
// place only when everything was written.
Outcome writeOnce(const QString &path, const QStringList &headers, const TableSource &source,
                  const SharedStrings &shared, QString *error)
{
    // QSaveFile writes beside the target and renames only after everything
    // was written, so the old file survives any failure.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return Outcome::Failed;
    }
    // The container library writes through stdio on the same temporary file.
    const int fd = ::dup(file.handle());
    FILE *stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!stream) {
        if (fd >= 0)
            ::close(fd);
        *error = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return Outcome::Failed;
    }
    std::setvbuf(stream, nullptr, _IOFBF, 1 << 20);

    startGsf();
    Outcome outcome = Outcome::Failed;
    GsfOutput *sink = gsf_output_stdio_new_FILE(QFile::encodeName(path).constData(), stream, TRUE);
    GsfOutfile *ole = sink ? gsf_outfile_msole_new(sink) : nullptr;
    GsfOutput *child = ole ? gsf_outfile_new_child(ole, "Workbook", FALSE) : nullptr;
    if (child) {
        StreamWriter out(child);
        outcome = WorkbookWriter(headers, source, shared, out).write(error);
        if (!gsf_output_close(child) && outcome == Outcome::Written) {
            outcome = Outcome::Failed;
            *error = QStringLiteral("cannot complete the workbook stream");
        }
        g_object_unref(child);
    } else {
        *error = QStringLiteral("cannot create the compound file");
    }
    if (ole) {
        // Closing the compound file writes its directory and flushes the sink.
        if (!gsf_output_close(GSF_OUTPUT(ole)) && outcome == Outcome::Written) {
            outcome = Outcome::Failed;
            *error = QStringLiteral("cannot build the compound file");
        }
        g_object_unref(ole);
    }
    if (sink) {
        if (!gsf_output_is_closed(sink))
            gsf_output_close(sink);
        g_object_unref(sink);
    }
    const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
    const int closed = std::fclose(stream);
    if (outcome == Outcome::Written && (!flushed || closed != 0)) {
        outcome = Outcome::Failed;
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (outcome != Outcome::Written) {
        file.cancelWriting();
        return outcome;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return Outcome::Failed;
    }
    return Outcome::Written;
}

} // namespace

bool writerAvailable()
{
    if (!startGsf())
        return false;
    GsfOutput *probe = gsf_output_memory_new();
    if (!probe)
        return false;
    gsf_output_close(probe);
    g_object_unref(probe);
    return true;
}

bool writeTable(const QString &path, const QStringList &headers, const TableSource &source,
                QString *errorMessage)
{
    QString error;
    auto fail = [&](const QString &why) {
        if (errorMessage)
            *errorMessage = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));

    // Almost every table fits its cells; only when a longer text turns up
    // are the rows gone through twice.
    Outcome outcome = writeOnce(path, headers, source, SharedStrings(), &error);
    if (outcome == Outcome::NeedsSharedStrings) {
        const SharedStrings shared = collectSharedStrings(headers, source);
        outcome = writeOnce(path, headers, source, shared, &error);
        if (outcome == Outcome::NeedsSharedStrings)
            error = QStringLiteral("the table changed while it was written");
    }
    if (outcome != Outcome::Written)
        return fail(error);
    if (errorMessage)
        errorMessage->clear();
    return true;
}

bool writeTable(const QString &path, const QStringList &headers, const QAbstractItemModel &model,
                QString *errorMessage)
{
    return writeTable(path, headers, ModelTableSource(model), errorMessage);
}

} // namespace xls
