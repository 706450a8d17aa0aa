#include "xlswriter.h"

#include "biffrecords.h"

#include "xlsdatetime.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <QVector>
#include <QtEndian>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace xls {
namespace {

// Largest payload of one BIFF8 record; longer data goes on in CONTINUE records.
constexpr int kMaxRecordData = 8224;
constexpr int kMaxColumns = 256;
// Excel refuses longer cell texts.
constexpr int kMaxTextLength = 32767;

// Cell formats written after the fifteen style XFs.
constexpr quint16 kXfDefault = 15;
constexpr quint16 kXfDateTime = 16;
constexpr quint16 kXfText = 17;
constexpr quint16 kFormatDateTime = 164; // first index free for custom formats
constexpr quint16 kFormatText = 49;      // built-in "@"

const char kDateTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

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

void putRecord(QByteArray &stream, quint16 id, const QByteArray &data)
{
    Buffer b(stream);
    b.u16(id);
    b.u16(quint16(data.size()));
    b.raw(data);
}

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

// Excel serial days of the 1900 date system; false for times it cannot hold.
bool toSerial(const QDate &date, const QTime &time, double *serial)
{
    if (!date.isValid() || !time.isValid() || date < QDate(1900, 1, 1) ||
        date > QDate(9999, 12, 31))
        return false;
    qint64 days = QDate(1899, 12, 30).daysTo(date);
    // The 1900 system counts a 29 February 1900 that never was.
    if (date < QDate(1900, 3, 1))
        --days;
    *serial = double(days) + double(time.msecsSinceStartOfDay()) / 86400000.0;
    return true;
}

// The table shows readings' times as "yyyy-MM-dd hh:mm:ss", stored readings'
// meter times as "yyyy-MM-dd hh:mm".
bool parseTimeText(const QString &text, double *serial)
{
    QDate date;
    QTime time;
    return parseTimestamp(text, &date, &time) && toSerial(date, time, serial);
}

bool isNumberType(const QVariant &v)
{
    switch (v.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

// Shortest text of a number, as a reader shows it (for column widths).
QString numberText(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

class WorkbookBuilder
{
public:
    WorkbookBuilder(const QStringList &headers, const QAbstractItemModel &model)
        : m_headers(headers), m_model(model)
    {
        m_columns = std::min(kMaxColumns, std::max(int(headers.size()), model.columnCount()));
        m_widths.fill(0, m_columns);
    }

    QByteArray build()
    {
        const int rows = m_model.rowCount();
        const int sheets = std::max(1, (rows + kDataRowsPerSheet - 1) / kDataRowsPerSheet);
        QVector<QByteArray> cells(sheets);
        QVector<int> sheetRows(sheets);
        for (int s = 0; s < sheets; ++s) {
            const int first = s * kDataRowsPerSheet;
            const int count = std::min(kDataRowsPerSheet, rows - first);
            sheetRows[s] = 1 + std::max(0, count);
            writeHeader(cells[s]);
            for (int r = 0; r < count; ++r)
                writeRow(cells[s], first + r, quint16(r + 1));
        }

        QByteArray stream;
        QVector<int> sheetOffsetFields;
        writeGlobals(stream, sheets, &sheetOffsetFields);
        for (int s = 0; s < sheets; ++s) {
            qToLittleEndian<quint32>(quint32(stream.size()), stream.data() + sheetOffsetFields[s]);
            writeSheet(stream, cells[s], sheetRows[s], s == 0);
        }
        return stream;
    }

private:
    quint32 stringIndex(const QString &text)
    {
        ++m_sstTotal;
        auto it = m_sstIndex.constFind(text);
        if (it != m_sstIndex.constEnd())
            return it.value();
        const quint32 index = quint32(m_strings.size());
        m_strings.append(text);
        m_sstIndex.insert(text, index);
        return index;
    }

    void fitWidth(int column, int chars)
    {
        if (chars > m_widths[column])
            m_widths[column] = chars;
    }

    void labelCell(QByteArray &out, quint16 row, quint16 col, quint16 xf, const QString &text)
    {
        const QString t = text.left(kMaxTextLength);
        Buffer b(out);
        b.u16(RecLabelSst);
        b.u16(10);
        b.u16(row);
        b.u16(col);
        b.u16(xf);
        b.u32(stringIndex(t));
        fitWidth(col, t.size());
    }

    void numberCell(QByteArray &out, quint16 row, quint16 col, quint16 xf, double v)
    {
        Buffer b(out);
        const double rounded = std::nearbyint(v);
        if (rounded == v && std::abs(v) < double(1 << 29)) {
            // Integers below 2^29 fit an RK value: 30 bits shifted left, flag 2.
            b.u16(RecRk);
            b.u16(10);
            b.u16(row);
            b.u16(col);
            b.u16(xf);
            b.u32((quint32(qint32(rounded)) << 2) | 0x2);
        } else {
            b.u16(RecNumber);
            b.u16(14);
            b.u16(row);
            b.u16(col);
            b.u16(xf);
            b.f64(v);
        }
    }

    void writeHeader(QByteArray &out)
    {
        for (int c = 0; c < m_columns && c < m_headers.size(); ++c)
            labelCell(out, 0, quint16(c), kXfDefault, m_headers.at(c));
    }

    void writeRow(QByteArray &out, int modelRow, quint16 row)
    {
        for (int c = 0; c < m_columns; ++c) {
            const QVariant v = m_model.data(m_model.index(modelRow, c), Qt::DisplayRole);
            if (!v.isValid())
                continue;
            const quint16 col = quint16(c);
            const quint16 xf = c == 0 ? kXfDefault : (c == 1 ? kXfDateTime : kXfText);
            if (c == 1) {
                double serial = 0;
                bool isTime = false;
                if (v.userType() == QMetaType::QDateTime) {
                    const QDateTime dt = v.toDateTime();
                    isTime = toSerial(dt.date(), dt.time(), &serial);
                } else if (v.userType() == QMetaType::QString) {
                    isTime = parseTimeText(v.toString(), &serial);
                }
                if (isTime) {
                    numberCell(out, row, col, xf, serial);
                    fitWidth(c, int(sizeof(kDateTimeFormat)) - 1);
                    continue;
                }
            }
            if (isNumberType(v)) {
                const double d = v.toDouble();
                if (std::isfinite(d)) {
                    numberCell(out, row, col, xf, d);
                    fitWidth(c, numberText(d).size());
                    continue;
                }
            }
            labelCell(out, row, col, xf, v.toString());
        }
    }

    void writeGlobals(QByteArray &stream, int sheets, QVector<int> *sheetOffsetFields)
    {
        writeBof(stream, 0x0005);
        {
            QByteArray d;
            Buffer(d).u16(1200); // strings are UTF-16
            putRecord(stream, RecCodepage, d);
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
            putRecord(stream, RecWindow1, d);
        }
        {
            QByteArray d;
            Buffer(d).u16(0); // 1900 date system
            putRecord(stream, RecDateMode, d);
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
            putRecord(stream, RecFont, d);
        }
        {
            QByteArray d;
            Buffer b(d);
            b.u16(kFormatDateTime);
            b.raw(longString(QString::fromLatin1(kDateTimeFormat)));
            putRecord(stream, RecFormat, d);
        }
        for (int i = 0; i < 15; ++i)
            writeXf(stream, 0, true);
        writeXf(stream, 0, false);
        writeXf(stream, kFormatDateTime, false);
        writeXf(stream, kFormatText, false);
        {
            QByteArray d;
            Buffer b(d);
            b.u16(0x8000); // built-in style of XF 0
            b.u8(0);       // "Normal"
            b.u8(0xFF);
            putRecord(stream, RecStyle, d);
        }
        for (int s = 0; s < sheets; ++s) {
            QByteArray d;
            Buffer b(d);
            b.u32(0); // sheet BOF position, filled in once known
            b.u8(0);  // visible
            b.u8(0);  // worksheet
            b.raw(shortString(QStringLiteral("Sheet%1").arg(s + 1)));
            sheetOffsetFields->append(stream.size() + 4);
            putRecord(stream, RecBoundSheet, d);
        }
        writeSst(stream);
        putRecord(stream, RecEof, QByteArray());
    }

    void writeBof(QByteArray &stream, quint16 type)
    {
        QByteArray d;
        Buffer b(d);
        b.u16(0x0600); // BIFF8
        b.u16(type);
        b.u16(0x0DBB); // build
        b.u16(0x07CC); // year
        b.u32(0x000080C9);
        b.u32(0x00000206);
        putRecord(stream, RecBof, d);
    }

    void writeXf(QByteArray &stream, quint16 format, bool style)
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
        putRecord(stream, RecXf, d);
    }

    // The shared string table, split into CONTINUE records at the record
    // limit. A string's header never splits; its characters may, and the
    // continuation then starts with the string's flag byte again.
    void writeSst(QByteArray &stream)
    {
        const int count = m_strings.size();
        const int perBucket = std::max(8, (count + 127) / 128);
        QVector<QPair<quint32, quint16>> buckets;

        QByteArray payload;
        Buffer p(payload);
        p.u32(m_sstTotal);
        p.u32(quint32(count));
        quint16 id = RecSst;
        auto flush = [&]() {
            putRecord(stream, id, payload);
            payload.clear();
            id = RecContinue;
        };

        for (int i = 0; i < count; ++i) {
            const QString &s = m_strings.at(i);
            const bool wide = !fitsLatin1(s);
            const int charSize = wide ? 2 : 1;
            const int needed = 3 + (s.isEmpty() ? 0 : charSize);
            if (payload.size() + needed > kMaxRecordData)
                flush();
            if (i % perBucket == 0)
                buckets.append(
                    {quint32(stream.size() + 4 + payload.size()), quint16(4 + payload.size())});
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
        putRecord(stream, RecExtSst, ext);
    }

    void writeSheet(QByteArray &stream, const QByteArray &cells, int rows, bool first)
    {
        writeBof(stream, 0x0010);
        for (int c = 0; c < m_columns; ++c) {
            QByteArray d;
            Buffer b(d);
            b.u16(quint16(c));
            b.u16(quint16(c));
            // Width in 1/256 of a character, with room for the cell margins.
            b.u16(quint16(std::min(255, m_widths[c] + 2) * 256));
            b.u16(c == 0 ? kXfDefault : (c == 1 ? kXfDateTime : kXfText));
            b.u16(0);
            b.u16(0);
            putRecord(stream, RecColInfo, d);
        }
        {
            QByteArray d;
            Buffer b(d);
            b.u32(0);
            b.u32(quint32(rows));
            b.u16(0);
            b.u16(quint16(m_columns));
            b.u16(0);
            putRecord(stream, RecDimensions, d);
        }
        stream.append(cells);
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
            putRecord(stream, RecWindow2, d);
        }
        putRecord(stream, RecEof, QByteArray());
    }

    const QStringList &m_headers;
    const QAbstractItemModel &m_model;
    int m_columns = 0;
    QVector<int> m_widths;
    QStringList m_strings;
    QHash<QString, quint32> m_sstIndex;
    quint32 m_sstTotal = 0;
};

bool startGsf()
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
    return true;
}

// Wraps the workbook stream in an OLE2 compound file held in memory.
bool containerBytes(const QByteArray &workbook, QByteArray *out, QString *error)
{
    startGsf();
    GsfOutput *sink = gsf_output_memory_new();
    if (!sink) {
        *error = QStringLiteral("cannot create the compound file");
        return false;
    }
    bool ok = false;
    GsfOutfile *ole = gsf_outfile_msole_new(sink);
    if (ole) {
        GsfOutput *child = gsf_outfile_new_child(ole, "Workbook", FALSE);
        if (child) {
            ok = gsf_output_write(child, size_t(workbook.size()),
                                  reinterpret_cast<const guint8 *>(workbook.constData()));
            ok = gsf_output_close(child) && ok;
            g_object_unref(child);
        }
        ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
        g_object_unref(ole);
    }
    if (ok) {
        const gsf_off_t size = gsf_output_size(sink);
        const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink));
        ok = bytes && size > 0;
        if (ok)
            *out = QByteArray(reinterpret_cast<const char *>(bytes), int(size));
    }
    // Closing the compound file normally closes its sink as well.
    if (!gsf_output_is_closed(sink))
        gsf_output_close(sink);
    g_object_unref(sink);
    if (!ok)
        *error = QStringLiteral("cannot build the compound file");
    return ok;
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

bool writeTable(const QString &path, const QStringList &headers, const QAbstractItemModel &model,
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

    const QByteArray workbook = WorkbookBuilder(headers, model).build();
    QByteArray file;
    if (!containerBytes(workbook, &file, &error))
        return fail(error);

    // QSaveFile writes beside the target and renames only after everything
    // was written, so the old file survives any failure.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    if (out.write(file) != file.size()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return fail(why);
    }
    if (!out.commit())
        return fail(out.errorString());
    if (errorMessage)
        errorMessage->clear();
    return true;
}

} // namespace xls
