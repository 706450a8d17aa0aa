#include "biffworkbook.h"

#include "biffrecords.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QtEndian>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace xls {
namespace {

// A record's body and the bodies of the CONTINUE records behind it, read as
// one sequence of bytes. Only text crossing from one body into the next is
// special: each continuation of characters starts with a fresh flags byte
// (compressed Latin-1 or UTF-16LE).
class Chunks
{
public:
    void add(const uchar *data, int size) { m_parts.push_back({data, size}); }

    bool u8(quint8 *v)
    {
        const uchar *p = take(1);
        if (!p)
            return false;
        *v = *p;
        return true;
    }
    bool u16(quint16 *v)
    {
        uchar b[2];
        if (!bytes(b, 2))
            return false;
        *v = qFromLittleEndian<quint16>(b);
        return true;
    }
    bool u32(quint32 *v)
    {
        uchar b[4];
        if (!bytes(b, 4))
            return false;
        *v = qFromLittleEndian<quint32>(b);
        return true;
    }
    bool skip(quint32 n)
    {
        while (n > 0) {
            if (!settle())
                return false;
            const quint32 step = std::min<quint32>(n, quint32(left()));
            m_offset += int(step);
            n -= step;
        }
        return true;
    }

    // An XLUnicodeString: 16-bit character count, flags, optional rich-text and phonetic sizes,
    // characters, then the skipped rich-text runs and phonetic block.
    bool unicodeString(QString *out)
    {
        quint16 count = 0;
        if (!u16(&count))
            return false;
        quint8 flags = 0;
        if (!u8(&flags))
            return false;
        quint16 runs = 0;
        quint32 phonetic = 0;
        if ((flags & 0x08) && !u16(&runs))
            return false;
        if ((flags & 0x04) && !u32(&phonetic))
            return false;
        return characters(count, flags & 0x01, out) && skip(4u * runs) && skip(phonetic);
    }

private:
    struct Part
    {
        const uchar *data;
        int size;
    };

    int left() const { return m_parts[m_index].size - m_offset; }

    // Moves past exhausted parts; false at the end of the data.
    bool settle()
    {
        while (m_index < int(m_parts.size()) && left() <= 0) {
            ++m_index;
            m_offset = 0;
        }
        return m_index < int(m_parts.size());
    }

    const uchar *take(int n)
    {
        if (!settle() || left() < n)
            return nullptr;
        const uchar *p = m_parts[m_index].data + m_offset;
        m_offset += n;
        return p;
    }

    bool bytes(uchar *out, int n)
    {
        for (int i = 0; i < n; ++i) {
            const uchar *p = take(1);
            if (!p)
                return false;
            out[i] = *p;
        }
        return true;
    }

    bool characters(int count, bool wide, QString *out)
    {
        out->clear();
        if (count == 0)
            return true;
        out->reserve(count);
        for (;;) {
            if (m_index < int(m_parts.size()) && left() > 0) {
                const int width = wide ? 2 : 1;
                const int n = std::min(count, left() / width);
                if (n <= 0)
                    return false; // half a UTF-16 unit at the end of a body
                const uchar *p = m_parts[m_index].data + m_offset;
                if (wide) {
                    const int at = out->size();
                    out->resize(at + n);
                    QChar *dst = out->data() + at;
                    for (int i = 0; i < n; ++i)
                        dst[i] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
                } else {
                    out->append(QLatin1String(reinterpret_cast<const char *>(p), n));
                }
                m_offset += n * width;
                count -= n;
            }
            if (count == 0)
                return true;
            if (m_index < int(m_parts.size()) && left() > 0)
                return false;
            // The text goes on in the next body, behind a flags byte.
            ++m_index;
            m_offset = 0;
            if (m_index >= int(m_parts.size()) || m_parts[m_index].size < 1)
                return false;
            wide = m_parts[m_index].data[0] & 0x01;
            m_offset = 1;
        }
    }

    std::vector<Part> m_parts;
    int m_index = 0;
    int m_offset = 0;
};

struct Cell
{
    quint32 row;
    quint16 col;
    QVariant value;
};

struct SheetCells
{
    std::vector<Cell> cells;
    bool sorted = true;

    void put(quint32 row, quint16 col, QVariant value)
    {
        if (!value.isValid())
            return;
        if (!cells.empty()) {
            const Cell &last = cells.back();
            if (row < last.row || (row == last.row && col <= last.col))
                sorted = false;
        }
        cells.push_back({row, col, std::move(value)});
    }

    BiffSheet rows()
    {
        BiffSheet sheet;
        if (cells.empty())
            return sheet;
        // Stable, so that of two cells at one place the later one wins.
        if (!sorted)
            std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) {
                return a.row < b.row || (a.row == b.row && a.col < b.col);
            });
        sheet.rows.resize(int(cells.back().row) + 1);
        for (size_t i = 0; i < cells.size();) {
            const quint32 row = cells[i].row;
            size_t end = i;
            while (end < cells.size() && cells[end].row == row)
                ++end;
            QVariantList &out = sheet.rows[int(row)];
            const int width = cells[end - 1].col + 1;
            out.reserve(width);
            for (int c = 0; c < width; ++c)
                out.append(QVariant());
            for (; i < end; ++i)
                out[cells[i].col] = std::move(cells[i].value);
        }
        return sheet;
    }
};

QString errorText(quint8 code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

class Walker
{
public:
    BiffWorkbook run(const QByteArray &stream);

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }
    bool globalsRecord(quint16 id, const uchar *p, int len, Chunks &chunks);
    bool cellRecord(quint16 id, const uchar *p, int len, Chunks &chunks);
    void prepareFormats();
    QVariant number(quint16 xf, double v) const
    {
        if (xf < m_xfIsDate.size() && m_xfIsDate.at(xf)) {
            const QDateTime dt = serialDateTime(v, m_date1904);
            if (dt.isValid())
                return dt;
        }
        return numberText(v);
    }
    SheetCells &sheet() { return m_cells[size_t(m_current)]; }

    QString m_error;
    bool m_date1904 = false;
    QVector<QString> m_sst;
    QVector<quint16> m_xfFormat;
    QHash<quint16, bool> m_customDate;
    QVector<bool> m_xfIsDate;
    QHash<quint32, int> m_sheetAt; // BOF position -> sheet
    std::vector<SheetCells> m_cells;
    int m_current = -1;
    // A formula whose text result follows in a STRING record.
    bool m_pendingString = false;
    quint32 m_pendingRow = 0;
    quint16 m_pendingCol = 0;
};

bool Walker::globalsRecord(quint16 id, const uchar *p, int len, Chunks &chunks)
{
    switch (id) {
    case RecFilePass:
        return fail(QStringLiteral("the workbook is encrypted"));
    case RecDateMode:
        if (len < 2)
            return fail(QStringLiteral("short DATEMODE record"));
        m_date1904 = qFromLittleEndian<quint16>(p) == 1;
        return true;
    case RecBoundSheet:
        if (len < 8)
            return fail(QStringLiteral("short BOUNDSHEET record"));
        if (m_sheetAt.contains(qFromLittleEndian<quint32>(p)))
            return fail(QStringLiteral("two sheets at one position"));
        m_sheetAt.insert(qFromLittleEndian<quint32>(p), int(m_cells.size()));
        m_cells.emplace_back();
        return true;
    case RecXf:
        if (len < 4)
            return fail(QStringLiteral("short XF record"));
        m_xfFormat.append(qFromLittleEndian<quint16>(p + 2));
        return true;
    case RecFormat: {
        quint16 index = 0;
        QString text;
        if (!chunks.u16(&index) || !chunks.unicodeString(&text))
            return fail(QStringLiteral("unreadable FORMAT record"));
        m_customDate.insert(index, isDateFormat(text));
        return true;
    }
    case RecSst: {
        quint32 total = 0, unique = 0;
        if (!chunks.u32(&total) || !chunks.u32(&unique))
            return fail(QStringLiteral("short SST record"));
        // Every string takes three bytes at least: no reservation beyond the data.
        m_sst.reserve(int(std::min<quint32>(unique, quint32(len) / 3 + 1)));
        QString text;
        // Strings that are not there are an error only when a cell uses them.
        for (quint32 i = 0; i < unique && chunks.unicodeString(&text); ++i)
            m_sst.append(text);
        return true;
    }
    default:
        return true;
    }
}

bool Walker::cellRecord(quint16 id, const uchar *p, int len, Chunks &chunks)
{
    if (id == RecString) {
        if (!m_pendingString)
            return true;
        m_pendingString = false;
        QString text;
        if (!chunks.unicodeString(&text))
            return fail(QStringLiteral("unreadable STRING record"));
        sheet().put(m_pendingRow, m_pendingCol, text.isEmpty() ? QVariant() : QVariant(text));
        return true;
    }
    switch (id) {
    case RecNumber:
    case RecRk:
    case RecMulRk:
    case RecBoolErr:
    case RecLabel:
    case RecLabelSst:
    case RecRString:
    case RecFormula:
        break;
    default:
        return true; // BLANK, MULBLANK and everything else carry no value
    }
    m_pendingString = false;
    if (len < 6)
        return fail(QStringLiteral("short cell record"));
    const quint32 row = qFromLittleEndian<quint16>(p);
    const quint16 col = qFromLittleEndian<quint16>(p + 2);
    const quint16 xf = qFromLittleEndian<quint16>(p + 4);
    switch (id) {
    case RecNumber:
        if (len < 14)
            return fail(QStringLiteral("short NUMBER record"));
        sheet().put(row, col, number(xf, doubleAt(p + 6)));
        return true;
    case RecRk:
        if (len < 10)
            return fail(QStringLiteral("short RK record"));
        sheet().put(row, col, number(xf, rkValue(qFromLittleEndian<quint32>(p + 6))));
        return true;
    case RecMulRk: {
        // row, first column, (xf, rk) per cell, last column
        if (len < 12 || (len - 6) % 6 != 0)
            return fail(QStringLiteral("malformed MULRK record"));
        const int cells = (len - 6) / 6;
        if (int(col) + cells > 0x10000)
            return fail(QStringLiteral("MULRK beyond the last column"));
        for (int i = 0; i < cells; ++i) {
            const uchar *c = p + 4 + i * 6;
            sheet().put(
                row, quint16(col + i),
                number(qFromLittleEndian<quint16>(c), rkValue(qFromLittleEndian<quint32>(c + 2))));
        }
        return true;
    }
    case RecBoolErr:
        if (len < 8)
            return fail(QStringLiteral("short BOOLERR record"));
        if (p[7])
            sheet().put(row, col, errorText(p[6]));
        else
            sheet().put(row, col, QString::number(p[6] ? 1 : 0));
        return true;
    case RecLabelSst: {
        if (len < 10)
            return fail(QStringLiteral("short LABELSST record"));
        const quint32 index = qFromLittleEndian<quint32>(p + 6);
        if (index >= quint32(m_sst.size()))
            return fail(QStringLiteral("shared string %1 is missing").arg(index));
        const QString &text = m_sst.at(int(index));
        sheet().put(row, col, text.isEmpty() ? QVariant() : QVariant(text));
        return true;
    }
    case RecLabel:
    case RecRString: {
        QString text;
        if (!chunks.skip(6) || !chunks.unicodeString(&text))
            return fail(QStringLiteral("unreadable LABEL record"));
        sheet().put(row, col, text.isEmpty() ? QVariant() : QVariant(text));
        return true;
    }
    case RecFormula:
        // Only the cached result matters: a number, or a marker in the last
        // two bytes 0xFFFF with the kind in the first byte.
        if (len < 20)
            return fail(QStringLiteral("short FORMULA record"));
        if (p[12] == 0xFF && p[13] == 0xFF) {
            switch (p[6]) {
            case 0: // text, in the STRING record that follows
                m_pendingString = true;
                m_pendingRow = row;
                m_pendingCol = col;
                break;
            case 1:
                sheet().put(row, col, QString::number(p[8] ? 1 : 0));
                break;
            case 2:
                sheet().put(row, col, errorText(p[8]));
                break;
            default: // empty text
                break;
            }
        } else {
            sheet().put(row, col, number(xf, doubleAt(p + 6)));
        }
        return true;
    default:
        return true;
    }
}

void Walker::prepareFormats()
{
    m_xfIsDate.resize(m_xfFormat.size());
    for (int i = 0; i < m_xfFormat.size(); ++i) {
        const quint16 f = m_xfFormat.at(i);
        // Built-in date and time formats; custom ones by their text.
        const bool builtIn = (f >= 14 && f <= 22) || (f >= 45 && f <= 47);
        m_xfIsDate[i] = builtIn || m_customDate.value(f, false);
    }
}

BiffWorkbook Walker::run(const QByteArray &stream)
{
    BiffWorkbook book;
    const auto *d = reinterpret_cast<const uchar *>(stream.constData());
    const int size = stream.size();
    int depth = 0;
    bool inGlobals = false;
    bool globalsDone = false;
    bool ok = true;
    int pos = 0;
    while (ok && pos + 4 <= size) {
        const int start = pos;
        const quint16 id = qFromLittleEndian<quint16>(d + pos);
        const int len = qFromLittleEndian<quint16>(d + pos + 2);
        if (id == 0 && len == 0 && depth == 0)
            break; // padding behind the last substream
        if (pos + 4 + len > size) {
            ok = fail(QStringLiteral("a record runs past the end of the stream"));
            break;
        }
        const uchar *p = d + pos + 4;
        pos += 4 + len;
        Chunks chunks;
        chunks.add(p, len);
        while (pos + 4 <= size && qFromLittleEndian<quint16>(d + pos) == RecContinue) {
            const int more = qFromLittleEndian<quint16>(d + pos + 2);
            if (pos + 4 + more > size)
                break; // reported on the next turn
            chunks.add(d + pos + 4, more);
            pos += 4 + more;
        }

        if (start == 0) {
            // The globals substream of a BIFF8 workbook comes first.
            if (id != RecBof || len < 4 || qFromLittleEndian<quint16>(p) != 0x0600 ||
                qFromLittleEndian<quint16>(p + 2) != 0x0005) {
                ok = fail(QStringLiteral("not a BIFF8 workbook"));
                break;
            }
            depth = 1;
            inGlobals = true;
            continue;
        }
        switch (id) {
        case RecBof:
            if (depth == 0) {
                if (!globalsDone) {
                    ok = fail(QStringLiteral("substream before the workbook globals end"));
                    break;
                }
                m_current = m_sheetAt.value(quint32(start), -1);
                m_pendingString = false;
            }
            ++depth;
            break;
        case RecEof:
            if (depth == 0) {
                ok = fail(QStringLiteral("EOF outside a substream"));
                break;
            }
            if (--depth == 0) {
                if (inGlobals) {
                    inGlobals = false;
                    globalsDone = true;
                    prepareFormats();
                }
                m_current = -1;
            }
            break;
        default:
            if (depth != 1)
                break;
            if (inGlobals)
                ok = globalsRecord(id, p, len, chunks);
            else if (m_current >= 0)
                ok = cellRecord(id, p, len, chunks);
            else if (id == RecFilePass)
                ok = fail(QStringLiteral("the workbook is encrypted"));
            break;
        }
    }
    if (ok && (!globalsDone || depth != 0))
        ok = fail(QStringLiteral("the workbook stream ends inside a substream"));
    if (!ok) {
        book.errorMessage = m_error;
        return book;
    }
    book.ok = true;
    book.sheets.reserve(int(m_cells.size()));
    for (SheetCells &cells : m_cells)
        book.sheets.append(cells.rows());
    return book;
}

} // namespace

QString numberText(double v)
{
    // Fixed notation reads like the table's own texts; exponents only where
    // fixed notation would be absurdly long.
    const double a = std::abs(v);
    if (v == 0.0)
        return QStringLiteral("0");
    if (a >= 1e-6 && a < 1e15)
        return QString::number(v, 'f', QLocale::FloatingPointShortest);
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QDateTime serialDateTime(double serial, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466.0)
        return QDateTime();
    qint64 secs = qint64(std::llround(serial * 86400.0));
    const qint64 days = secs / 86400;
    secs %= 86400;
    QDate base = date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    if (days == 0)
        base = QDate(1899, 12, 30); // a time alone
    // The 1900 system counts a 29 February 1900 that never was.
    else if (!date1904 && days < 61)
        base = QDate(1899, 12, 31);
    const QDate date = base.addDays(days);
    if (!date.isValid() || date.year() > 9999)
        return QDateTime();
    return QDateTime(date, QTime(0, 0).addSecs(int(secs)));
}

bool isDateFormat(const QString &format)
{
    // m stands for months or minutes and never decides alone.
    bool dateOrTime = false;
    const int n = format.size();
    for (int i = 0; i < n && !dateOrTime; ++i) {
        switch (format.at(i).toLower().unicode()) {
        case '"': // quoted text
            for (++i; i < n && format.at(i) != QLatin1Char('"'); ++i) {
            }
            break;
        case '[': { // colour, locale or condition; [h], [mm], [ss] are elapsed times
            const int close = format.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0) {
                i = n; // a bracket left open hides the rest
                break;
            }
            const QString inside = format.mid(i + 1, close - i - 1).toLower();
            if (!inside.isEmpty() && (inside == QString(inside.size(), QLatin1Char('h')) ||
                                      inside == QString(inside.size(), QLatin1Char('m')) ||
                                      inside == QString(inside.size(), QLatin1Char('s'))))
                dateOrTime = true;
            i = close;
            break;
        }
        case '\\': // an escaped character
        case '_':  // space as wide as the next character
        case '*':  // the next character repeated
            ++i;
            break;
        case 'y':
        case 'd':
        case 'h':
        case 's':
            dateOrTime = true;
            break;
        default:
            break;
        }
    }
    return dateOrTime;
}

bool isBiff8Stream(const QByteArray &stream)
{
    if (stream.size() < 8)
        return false;
    const auto *d = reinterpret_cast<const uchar *>(stream.constData());
    return qFromLittleEndian<quint16>(d) == RecBof && qFromLittleEndian<quint16>(d + 2) >= 4 &&
           qFromLittleEndian<quint16>(d + 4) == 0x0600;
}

QByteArray workbookStream(const QString &path)
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
    QByteArray bytes;
    GsfInput *input = gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr);
    if (!input)
        return bytes;
    GsfInfile *ole = gsf_infile_msole_new(input, nullptr);
    if (ole) {
        GsfInput *stream = gsf_infile_child_by_name(ole, "Workbook");
        if (!stream)
            stream = gsf_infile_child_by_name(ole, "Book");
        if (stream) {
            const gsf_off_t size = gsf_input_size(stream);
            if (size > 0 && size < (gsf_off_t(1) << 30)) {
                bytes.resize(int(size));
                if (!gsf_input_read(stream, size_t(size), reinterpret_cast<guint8 *>(bytes.data())))
                    bytes.clear();
            }
            g_object_unref(stream);
        }
        g_object_unref(ole);
    }
    g_object_unref(input);
    return bytes;
}

BiffWorkbook readBiffWorkbook(const QByteArray &stream)
{
    if (stream.isEmpty()) {
        BiffWorkbook book;
        book.errorMessage = QStringLiteral("no workbook stream");
        return book;
    }
    return Walker().run(stream);
}

} // namespace xls
