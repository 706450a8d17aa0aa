#include "biffworkbook.h"

#include "biffrecords.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QtEndian>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iconv.h>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace xls {
namespace {

// The format's limits: a cell's row field holds 65,536 rows, and a sheet
// has 256 columns.
constexpr quint32 kMaxColumns = 256;
// Columns the import uses: A..E.
constexpr int kKeptColumns = 5;
// Bytes read from the stream at a time; more than the longest record.
constexpr int kInputChunk = 256 * 1024;
// The fewest bytes a row handed out costs in the file: every such row has a
// cell record of its own, and the smallest (BOOLERR) takes 12 bytes. A
// workbook claiming more rows than its bytes can hold reuses its bytes.
constexpr qint64 kMinRowBytes = 12;

QString tr(const char *text)
{
    return QCoreApplication::translate("xls", text);
}

enum class Version
{
    Biff5,
    Biff8,
};

void startGsf()
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

// The stream read record by record through a window of kInputChunk bytes.
class RecordInput
{
public:
    struct Record
    {
        quint16 id = 0;
        int len = 0;
        const uchar *data = nullptr; // valid until the next read
        quint64 start = 0;           // stream offset of the record's header
    };

    explicit RecordInput(GsfInput *input)
        : m_input(input), m_size(quint64(std::max<gsf_off_t>(0, gsf_input_size(input))))
    {
        m_buf.resize(kInputChunk);
    }

    quint64 size() const { return m_size; }
    quint64 pos() const { return m_pos; }
    void seek(quint64 pos) { m_pos = pos; }
    bool failed() const { return m_failed; }

    // The next record; false at the end of the stream or when the record
    // runs past it (then truncated() is true).
    bool next(Record *r)
    {
        m_truncated = false;
        if (!ensure(4))
            return false;
        const uchar *h = at(m_pos);
        r->id = qFromLittleEndian<quint16>(h);
        r->len = qFromLittleEndian<quint16>(h + 2);
        r->start = m_pos;
        if (!ensure(4 + r->len)) {
            m_truncated = true;
            return false;
        }
        r->data = at(m_pos) + 4;
        m_pos += 4 + quint64(r->len);
        return true;
    }
    bool truncated() const { return m_truncated; }

    // Whether the next record is a CONTINUE; takes it when it is.
    bool nextContinue(Record *r)
    {
        if (!ensure(4) || qFromLittleEndian<quint16>(at(m_pos)) != RecContinue)
            return false;
        return next(r);
    }

private:
    const uchar *at(quint64 pos) const { return m_buf.data() + (pos - m_bufStart); }

    // At least n bytes from m_pos in the window.
    bool ensure(int n)
    {
        if (m_pos + quint64(n) > m_size)
            return false;
        if (m_pos >= m_bufStart && m_pos + quint64(n) <= m_bufStart + quint64(m_bufLen))
            return true;
        // Keep what is already here of the bytes wanted, read the rest.
        int kept = 0;
        if (m_pos >= m_bufStart && m_pos < m_bufStart + quint64(m_bufLen)) {
            kept = int(m_bufStart + quint64(m_bufLen) - m_pos);
            std::memmove(m_buf.data(), m_buf.data() + (m_pos - m_bufStart), size_t(kept));
        }
        const quint64 from = m_pos + quint64(kept);
        const int wanted = int(std::min<quint64>(quint64(kInputChunk - kept), m_size - from));
        if (wanted > 0 && (gsf_input_seek(m_input, gsf_off_t(from), G_SEEK_SET) ||
                           !gsf_input_read(m_input, size_t(wanted), m_buf.data() + kept))) {
            m_failed = true;
            m_bufLen = 0;
            return false;
        }
        m_bufStart = m_pos;
        m_bufLen = kept + std::max(0, wanted);
        return m_bufLen >= n;
    }

    GsfInput *m_input;
    quint64 m_size;
    std::vector<uchar> m_buf;
    quint64 m_bufStart = 0;
    int m_bufLen = 0;
    quint64 m_pos = 0;
    bool m_truncated = false;
    bool m_failed = false;
};

// 8-bit texts of BIFF5 in the workbook's code page.
class CodePage
{
public:
    ~CodePage()
    {
        if (m_iconv != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_iconv);
    }

    void set(quint16 codePage)
    {
        if (m_iconv != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(m_iconv);
            m_iconv = reinterpret_cast<iconv_t>(-1);
        }
        m_latin1 = false;
        switch (codePage) {
        case 1252:
        case 32769: // Windows 1252 of the oldest versions
            return;
        case 367: // ASCII
            m_latin1 = true;
            return;
        case 10000:
        case 32768:
            m_iconv = iconv_open("UTF-16LE", "MACINTOSH");
            return;
        default:
            m_iconv =
                iconv_open("UTF-16LE", QByteArray("CP" + QByteArray::number(codePage)).constData());
            return;
        }
    }

    void append(const uchar *p, int n, std::u16string *out) const
    {
        if (m_iconv != reinterpret_cast<iconv_t>(-1) && appendConverted(p, n, out))
            return;
        for (int i = 0; i < n; ++i)
            out->push_back(m_latin1 ? char16_t(p[i]) : windows1252(p[i]));
    }

private:
    static char16_t windows1252(uchar c)
    {
        static const char16_t high[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c);
    }

    bool appendConverted(const uchar *p, int n, std::u16string *out) const
    {
        // At most two UTF-16 units per byte.
        std::u16string converted(size_t(n) * 2, u'\0');
        char *in = reinterpret_cast<char *>(const_cast<uchar *>(p));
        size_t inLeft = size_t(n);
        char *dst = reinterpret_cast<char *>(&converted[0]);
        size_t outLeft = converted.size() * 2;
        iconv(m_iconv, nullptr, nullptr, nullptr, nullptr);
        if (iconv(m_iconv, &in, &inLeft, &dst, &outLeft) == size_t(-1))
            return false;
        converted.resize(converted.size() - outLeft / 2);
        out->append(converted);
        return true;
    }

    iconv_t m_iconv = reinterpret_cast<iconv_t>(-1);
    bool m_latin1 = false;
};

// A record's body and the bodies of the CONTINUE records behind it, read as
// one sequence of bytes; the CONTINUE records are taken from the input only
// when the reading gets there. Text crossing from one body into the next is
// special: each continuation of characters starts with a fresh flags byte
// (compressed Latin-1 or UTF-16LE).
class Chunks
{
public:
    Chunks(RecordInput &input, const RecordInput::Record &first)
        : m_input(input), m_data(first.data), m_size(first.len)
    {
    }

    bool u8(quint8 *v)
    {
        if (!settle())
            return false;
        *v = m_data[m_offset++];
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
            const quint32 step = std::min<quint32>(n, quint32(m_size - m_offset));
            m_offset += int(step);
            n -= step;
        }
        return true;
    }

    // A BIFF8 XLUnicodeString: 16-bit character count, flags, optional
    // rich-text and phonetic sizes, characters, then the skipped rich-text
    // runs and phonetic block. Appended to out.
    bool unicodeString(std::u16string *out)
    {
        quint16 count = 0;
        quint8 flags = 0;
        if (!u16(&count) || !u8(&flags))
            return false;
        quint16 runs = 0;
        quint32 phonetic = 0;
        if ((flags & 0x08) && !u16(&runs))
            return false;
        if ((flags & 0x04) && !u32(&phonetic))
            return false;
        return characters(count, flags & 0x01, out) && skip(4u * runs) && skip(phonetic);
    }

    // A BIFF5 string: a count of one or two bytes, then 8-bit characters.
    bool byteString(int lengthBytes, const CodePage &codePage, std::u16string *out)
    {
        quint16 count = 0;
        if (lengthBytes == 1) {
            quint8 c = 0;
            if (!u8(&c))
                return false;
            count = c;
        } else if (!u16(&count)) {
            return false;
        }
        if (!settle() && count > 0)
            return false;
        if (m_size - m_offset < count)
            return false;
        codePage.append(m_data + m_offset, count, out);
        m_offset += count;
        return true;
    }

private:
    // Moves on to the next CONTINUE body when this one is used up; false at
    // the end of the data.
    bool settle()
    {
        while (m_offset >= m_size) {
            RecordInput::Record r;
            if (!m_input.nextContinue(&r))
                return false;
            m_data = r.data;
            m_size = r.len;
            m_offset = 0;
        }
        return true;
    }

    bool bytes(uchar *out, int n)
    {
        for (int i = 0; i < n; ++i) {
            if (!settle())
                return false;
            out[i] = m_data[m_offset++];
        }
        return true;
    }

    bool characters(int count, bool wide, std::u16string *out)
    {
        if (count == 0)
            return true;
        for (;;) {
            if (m_offset < m_size) {
                const int width = wide ? 2 : 1;
                const int n = std::min(count, (m_size - m_offset) / width);
                if (n <= 0)
                    return false; // half a UTF-16 unit at the end of a body
                const uchar *p = m_data + m_offset;
                const size_t at = out->size();
                out->resize(at + size_t(n));
                char16_t *dst = &(*out)[at];
                if (wide) {
                    for (int i = 0; i < n; ++i)
                        dst[i] = char16_t(qFromLittleEndian<quint16>(p + 2 * i));
                } else {
                    for (int i = 0; i < n; ++i)
                        dst[i] = char16_t(p[i]);
                }
                m_offset += n * width;
                count -= n;
            }
            if (count == 0)
                return true;
            if (m_offset < m_size)
                return false;
            // The text goes on in the next body, behind a flags byte.
            RecordInput::Record r;
            if (!m_input.nextContinue(&r) || r.len < 1)
                return false;
            m_data = r.data;
            m_size = r.len;
            wide = m_data[0] & 0x01;
            m_offset = 1;
        }
    }

    RecordInput &m_input;
    const uchar *m_data;
    int m_size;
    int m_offset = 0;
};

// UTF-16 units as they are: no byte order mark is looked for.
QString utf16Text(const char16_t *units, size_t count)
{
    return QString(reinterpret_cast<const QChar *>(units), int(count));
}

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

// A kept cell before it becomes a QVariant: 16 bytes whatever it holds.
struct RawCell
{
    enum Kind : quint8
    {
        Empty,
        Number,  // value
        Date,    // value, in a date format
        Shared,  // index into the shared strings
        Inline,  // offset and length in the sheet's own texts
        Boolean, // index 0 or 1
        Error,   // index: the error code
    };
    Kind kind;
    quint32 length;
    quint64 bits; // the value's bits or an index

    static RawCell empty() { return RawCell{Empty, 0, 0}; }
    static RawCell of(Kind kind, quint64 index, quint32 length = 0)
    {
        return RawCell{kind, length, index};
    }
    static RawCell number(Kind kind, double v)
    {
        RawCell c{kind, 0, 0};
        std::memcpy(&c.bits, &v, sizeof v);
        return c;
    }
    double value() const
    {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

// Columns A..E of the rows of one sheet, in blocks of rows taken as the
// rows are filled: memory follows the rows a sheet uses, 5 MB at most.
class SheetGrid
{
public:
    static constexpr quint32 kRows = 65536;
    static constexpr quint32 kBlockRows = 1024;

    // Null when there is no memory for the row's block.
    RawCell *row(quint32 r)
    {
        std::unique_ptr<RawCell[]> &block = m_blocks[r / kBlockRows];
        if (!block) {
            block.reset(new (std::nothrow) RawCell[size_t(kBlockRows) * kKeptColumns]);
            if (!block)
                return nullptr;
            std::fill_n(block.get(), size_t(kBlockRows) * kKeptColumns, RawCell::empty());
        }
        return block.get() + size_t(r % kBlockRows) * kKeptColumns;
    }
    // Null for rows of a block never filled.
    const RawCell *peek(quint32 r) const
    {
        const std::unique_ptr<RawCell[]> &block = m_blocks[r / kBlockRows];
        return block ? block.get() + size_t(r % kBlockRows) * kKeptColumns : nullptr;
    }
    bool set(quint32 r, quint32 c, const RawCell &cell)
    {
        RawCell *cells = row(r);
        if (!cells)
            return false;
        cells[c] = cell;
        if (m_rows <= r)
            m_rows = r + 1;
        return true;
    }
    quint32 rows() const { return m_rows; }
    void clear()
    {
        for (quint32 r = 0; r < m_rows; r += kBlockRows) {
            if (m_blocks[r / kBlockRows])
                std::fill_n(m_blocks[r / kBlockRows].get(), size_t(kBlockRows) * kKeptColumns,
                            RawCell::empty());
        }
        m_rows = 0;
    }

private:
    std::unique_ptr<RawCell[]> m_blocks[kRows / kBlockRows];
    quint32 m_rows = 0;
};

// The shared string table packed into one block of UTF-16 units.
struct SharedStrings
{
    std::u16string chars;
    std::vector<quint64> starts{0}; // string i is chars[starts[i], starts[i + 1])

    int count() const { return int(starts.size()) - 1; }
};

struct SheetEntry
{
    quint32 position = 0;
    bool worksheet = false;
    // The stretch of the stream its walk took, once walked: no other sheet's
    // walk may start or run in there.
    bool walked = false;
    quint64 end = 0;
};

} // namespace

class BiffReaderPrivate
{
public:
    ~BiffReaderPrivate()
    {
        if (stream)
            g_object_unref(stream);
        if (ole)
            g_object_unref(ole);
        if (input)
            g_object_unref(input);
    }

    bool fail(const QString &why)
    {
        error = why;
        return false;
    }
    bool open();
    bool globalsRecord(const RecordInput::Record &r);
    bool cellRecord(const RecordInput::Record &r);
    bool readSheet(int sheet, const BiffReader::RowFn &rows);
    bool text(Chunks &chunks, int biff5LengthBytes, std::u16string *out)
    {
        return version == Version::Biff8 ? chunks.unicodeString(out)
                                         : chunks.byteString(biff5LengthBytes, codePage, out);
    }
    RawCell numberCell(quint16 xf, double v) const
    {
        return RawCell::number(
            xf < xfIsDate.size() && xfIsDate[xf] ? RawCell::Date : RawCell::Number, v);
    }
    bool put(quint32 row, quint32 col, const RawCell &cell);
    RawCell inlineText(const std::u16string &text);
    QVariant value(const RawCell &cell) const;

    GsfInput *input = nullptr;
    GsfInfile *ole = nullptr;
    GsfInput *stream = nullptr;
    std::unique_ptr<RecordInput> records;

    QString error;
    Version version = Version::Biff8;
    bool date1904 = false;
    CodePage codePage;
    SharedStrings shared;
    std::vector<quint16> xfFormat;
    QHash<quint16, bool> customDate;
    std::vector<bool> xfIsDate;
    std::vector<SheetEntry> sheets;
    // Rows handed out so far, and how many the workbook's size allows.
    qint64 rowsOut = 0;
    qint64 maxRows = 0;

    // The sheet being read: columns A..E of its rows, and its own texts.
    std::unique_ptr<SheetGrid> grid;
    std::u16string sheetTexts;
    // A formula whose text result follows in a STRING record.
    bool pendingString = false;
    quint32 pendingRow = 0;
    quint16 pendingCol = 0;
};

bool BiffReaderPrivate::globalsRecord(const RecordInput::Record &r)
{
    const uchar *p = r.data;
    const int len = r.len;
    switch (r.id) {
    case RecFilePass:
        return fail(tr("the workbook is encrypted"));
    case RecDateMode:
        if (len < 2)
            return fail(tr("short DATEMODE record"));
        date1904 = qFromLittleEndian<quint16>(p) == 1;
        return true;
    case RecCodepage:
        if (len < 2)
            return fail(tr("short CODEPAGE record"));
        if (version == Version::Biff5)
            codePage.set(qFromLittleEndian<quint16>(p));
        return true;
    case RecBoundSheet: {
        if (len < 6)
            return fail(tr("short BOUNDSHEET record"));
        SheetEntry entry;
        entry.position = qFromLittleEndian<quint32>(p);
        entry.worksheet = p[5] == 0;
        for (const SheetEntry &other : sheets) {
            if (other.position == entry.position)
                return fail(tr("two sheets at one position"));
        }
        sheets.push_back(entry);
        return true;
    }
    case RecXf:
        if (len < 4)
            return fail(tr("short XF record"));
        xfFormat.push_back(qFromLittleEndian<quint16>(p + 2));
        return true;
    case RecFormat: {
        Chunks chunks(*records, r);
        quint16 index = 0;
        std::u16string format;
        if (!chunks.u16(&index) || !text(chunks, 1, &format))
            return fail(tr("unreadable FORMAT record"));
        customDate.insert(index, isDateFormat(utf16Text(format.data(), format.size())));
        return true;
    }
    case RecSst: {
        if (version != Version::Biff8)
            return true;
        Chunks chunks(*records, r);
        quint32 total = 0, unique = 0;
        if (!chunks.u32(&total) || !chunks.u32(&unique))
            return fail(tr("short SST record"));
        // Strings that are not there are an error only when a cell uses them.
        for (quint32 i = 0; i < unique && chunks.unicodeString(&shared.chars); ++i)
            shared.starts.push_back(shared.chars.size());
        shared.chars.resize(size_t(shared.starts.back()));
        shared.chars.shrink_to_fit();
        return true;
    }
    default:
        return true;
    }
}

bool BiffReaderPrivate::open()
{
    RecordInput &in = *records;
    RecordInput::Record r;
    in.seek(0);
    if (!in.next(&r) || r.id != RecBof || r.len < 4)
        return fail(tr("not a workbook stream"));
    const quint16 biff = qFromLittleEndian<quint16>(r.data);
    const quint16 type = qFromLittleEndian<quint16>(r.data + 2);
    if (type != 0x0005 || (biff != 0x0600 && biff != 0x0500))
        return fail(tr("not a BIFF5 or BIFF8 workbook"));
    version = biff == 0x0600 ? Version::Biff8 : Version::Biff5;
    if (version == Version::Biff5)
        codePage.set(1252);

    int depth = 1;
    while (depth > 0) {
        if (!in.next(&r))
            return fail(tr("the workbook stream ends inside its globals"));
        switch (r.id) {
        case RecBof:
            ++depth;
            break;
        case RecEof:
            --depth;
            break;
        case RecContinue: // the rest of a record that needed no more
            break;
        default:
            if (depth == 1 && !globalsRecord(r))
                return false;
            break;
        }
    }
    // Built-in date and time formats; custom ones by their text.
    xfIsDate.resize(xfFormat.size());
    for (size_t i = 0; i < xfFormat.size(); ++i) {
        const quint16 f = xfFormat[i];
        const bool builtIn = (f >= 14 && f <= 22) || (f >= 45 && f <= 47);
        xfIsDate[i] = builtIn || customDate.value(f, false);
    }
    return true;
}

bool BiffReaderPrivate::put(quint32 row, quint32 col, const RawCell &cell)
{
    if (col >= kMaxColumns)
        return fail(tr("a cell lies beyond the last column"));
    if (col >= quint32(kKeptColumns))
        return true;
    // Of two cells at one place the later one counts.
    return grid->set(row, col, cell) || fail(tr("no memory for a sheet"));
}

RawCell BiffReaderPrivate::inlineText(const std::u16string &text)
{
    if (text.empty())
        return RawCell::empty();
    const RawCell c = RawCell::of(RawCell::Inline, sheetTexts.size(), quint32(text.size()));
    sheetTexts.append(text);
    return c;
}

bool BiffReaderPrivate::cellRecord(const RecordInput::Record &r)
{
    const uchar *p = r.data;
    const int len = r.len;
    if (r.id == RecString) {
        if (!pendingString)
            return true;
        pendingString = false;
        Chunks chunks(*records, r);
        std::u16string s;
        if (!text(chunks, 2, &s))
            return fail(tr("unreadable STRING record"));
        return put(pendingRow, pendingCol, inlineText(s));
    }
    switch (r.id) {
    case RecNumber:
    case RecRk:
    case RecMulRk:
    case RecBoolErr:
    case RecLabel:
    case RecLabelSst:
    case RecRString:
    case RecFormula:
    case RecBlank:
    case RecMulBlank:
        break;
    default:
        return true; // everything else carries no cell
    }
    pendingString = false;
    if (len < 6)
        return fail(tr("short cell record"));
    const quint32 row = qFromLittleEndian<quint16>(p);
    const quint16 col = qFromLittleEndian<quint16>(p + 2);
    const quint16 xf = qFromLittleEndian<quint16>(p + 4);
    switch (r.id) {
    case RecBlank:
        return col < kMaxColumns || fail(tr("a cell lies beyond the last column"));
    case RecMulBlank: // row, first column, xf per cell, last column
        if (len < 6 || (len - 6) % 2 != 0)
            return fail(tr("malformed MULBLANK record"));
        if (quint32(col) + quint32(len - 6) / 2 > kMaxColumns)
            return fail(tr("a cell lies beyond the last column"));
        return true;
    case RecNumber:
        if (len < 14)
            return fail(tr("short NUMBER record"));
        return put(row, col, numberCell(xf, doubleAt(p + 6)));
    case RecRk:
        if (len < 10)
            return fail(tr("short RK record"));
        return put(row, col, numberCell(xf, rkValue(qFromLittleEndian<quint32>(p + 6))));
    case RecMulRk: {
        // row, first column, (xf, rk) per cell, last column
        if (len < 12 || (len - 6) % 6 != 0)
            return fail(tr("malformed MULRK record"));
        const int cells = (len - 6) / 6;
        if (quint32(col) + quint32(cells) > kMaxColumns)
            return fail(tr("a cell lies beyond the last column"));
        for (int i = 0; i < cells; ++i) {
            const uchar *c = p + 4 + i * 6;
            if (!put(row, quint32(col) + quint32(i),
                     numberCell(qFromLittleEndian<quint16>(c),
                                rkValue(qFromLittleEndian<quint32>(c + 2)))))
                return false;
        }
        return true;
    }
    case RecBoolErr:
        if (len < 8)
            return fail(tr("short BOOLERR record"));
        return put(row, col,
                   p[7] ? RawCell::of(RawCell::Error, p[6])
                        : RawCell::of(RawCell::Boolean, p[6] ? 1 : 0));
    case RecLabelSst: {
        if (len < 10)
            return fail(tr("short LABELSST record"));
        const quint32 index = qFromLittleEndian<quint32>(p + 6);
        if (version != Version::Biff8 || index >= quint32(shared.count()))
            return fail(tr("shared string %1 is missing").arg(index));
        return put(row, col,
                   shared.starts[index + 1] > shared.starts[index]
                       ? RawCell::of(RawCell::Shared, index)
                       : RawCell::empty());
    }
    case RecLabel:
    case RecRString: {
        Chunks chunks(*records, r);
        std::u16string s;
        if (!chunks.skip(6) || !text(chunks, 2, &s))
            return fail(tr("unreadable LABEL record"));
        return put(row, col, inlineText(s));
    }
    case RecFormula:
        // Only the cached result matters: a number, or a marker in the last
        // two bytes 0xFFFF with the kind in the first byte.
        if (len < 20)
            return fail(tr("short FORMULA record"));
        if (col >= kMaxColumns)
            return fail(tr("a cell lies beyond the last column"));
        if (p[12] == 0xFF && p[13] == 0xFF) {
            switch (p[6]) {
            case 0: // text, in the STRING record that follows
                pendingString = true;
                pendingRow = row;
                pendingCol = col;
                return true;
            case 1:
                return put(row, col, RawCell::of(RawCell::Boolean, p[8] ? 1 : 0));
            case 2:
                return put(row, col, RawCell::of(RawCell::Error, p[8]));
            default: // empty text
                return put(row, col, RawCell::empty());
            }
        }
        return put(row, col, numberCell(xf, doubleAt(p + 6)));
    default:
        return true;
    }
}

QVariant BiffReaderPrivate::value(const RawCell &cell) const
{
    switch (cell.kind) {
    case RawCell::Empty:
        break;
    case RawCell::Number:
        return numberText(cell.value());
    case RawCell::Date: {
        const QDateTime dt = serialDateTime(cell.value(), date1904);
        if (dt.isValid())
            return dt;
        return numberText(cell.value());
    }
    case RawCell::Shared: {
        const quint64 start = shared.starts[size_t(cell.bits)];
        const quint64 end = shared.starts[size_t(cell.bits) + 1];
        return utf16Text(shared.chars.data() + start, size_t(end - start));
    }
    case RawCell::Inline:
        return utf16Text(sheetTexts.data() + cell.bits, cell.length);
    case RawCell::Boolean:
        return cell.bits ? tr("1") : QStringLiteral("0");
    case RawCell::Error:
        return errorText(quint8(cell.bits));
    }
    return QVariant();
}

bool BiffReaderPrivate::readSheet(int sheet, const BiffReader::RowFn &rows)
{
    if (sheet < 0 || sheet >= int(sheets.size()))
        return fail(tr("there is no sheet %1").arg(sheet + 1));
    RecordInput &in = *records;
    RecordInput::Record r;
    const quint64 start = sheets[size_t(sheet)].position;
    // Sheet entries of a crafted workbook may start inside another sheet's
    // records and end up in the same block of rows, handing it out again and
    // again. The walk must stay clear of every stretch walked before.
    quint64 limit = in.size();
    for (size_t other = 0; other < sheets.size(); ++other) {
        const SheetEntry &o = sheets[other];
        if (!o.walked || int(other) == sheet)
            continue;
        if (start >= o.position && start < o.end)
            return fail(tr("sheet %1 starts inside sheet %2").arg(sheet + 1).arg(other + 1));
        if (o.position > start)
            limit = std::min<quint64>(limit, o.position);
    }
    in.seek(start);
    const quint16 biff = version == Version::Biff8 ? 0x0600 : 0x0500;
    if (!in.next(&r) || r.id != RecBof || r.len < 4 || qFromLittleEndian<quint16>(r.data) != biff ||
        qFromLittleEndian<quint16>(r.data + 2) != 0x0010)
        return fail(tr("sheet %1 does not start where the workbook says").arg(sheet + 1));

    if (!grid)
        grid = std::make_unique<SheetGrid>();
    grid->clear();
    sheetTexts.clear();
    pendingString = false;
    int depth = 1;
    while (depth > 0) {
        if (!in.next(&r))
            return fail(tr("the workbook stream ends inside sheet %1").arg(sheet + 1));
        switch (r.id) {
        case RecBof:
            ++depth;
            break;
        case RecEof:
            --depth;
            break;
        case RecContinue:
            break;
        default:
            if (depth == 1 && !cellRecord(r))
                return false;
            break;
        }
        if (in.pos() > limit)
            return fail(tr("sheet %1 runs into the records of another sheet").arg(sheet + 1));
    }
    SheetEntry &entry = sheets[size_t(sheet)];
    entry.walked = true;
    entry.end = in.pos();

    qint64 used = 0;
    for (quint32 row = 0; row < grid->rows(); ++row) {
        const RawCell *raw = grid->peek(row);
        if (!raw) {
            row += SheetGrid::kBlockRows - 1 - row % SheetGrid::kBlockRows;
            continue;
        }
        for (int c = 0; c < kKeptColumns; ++c) {
            if (raw[c].kind != RawCell::Empty) {
                ++used;
                break;
            }
        }
    }
    if (rowsOut + used > maxRows)
        return fail(tr("the workbook has more rows than a file of its size can hold"));
    rowsOut += used;

    // The rows go out reusing one list, so that no row costs allocations.
    QVariantList cells;
    for (int c = 0; c < kKeptColumns; ++c)
        cells.append(QVariant());
    const quint32 rowCount = grid->rows();
    for (quint32 row = 0; row < rowCount; ++row) {
        const RawCell *raw = grid->peek(row);
        if (!raw) {
            row += SheetGrid::kBlockRows - 1 - row % SheetGrid::kBlockRows; // an empty block
            continue;
        }
        bool any = false;
        for (int c = 0; c < kKeptColumns; ++c)
            any = any || raw[c].kind != RawCell::Empty;
        if (!any)
            continue;
        for (int c = 0; c < kKeptColumns; ++c)
            cells[c] = value(raw[c]);
        if (!rows(row, cells))
            break;
    }
    grid->clear();
    sheetTexts.clear();
    return true;
}

BiffReader::BiffReader(std::unique_ptr<BiffReaderPrivate> p) : d(std::move(p)) {}

BiffReader::~BiffReader() = default;

std::unique_ptr<BiffReader> BiffReader::openFile(const QString &path, QString *error)
{
    startGsf();
    auto p = std::make_unique<BiffReaderPrivate>();
    p->input = gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr);
    if (p->input)
        p->ole = gsf_infile_msole_new(p->input, nullptr);
    if (p->ole) {
        p->stream = gsf_infile_child_by_name(p->ole, "Workbook");
        if (!p->stream)
            p->stream = gsf_infile_child_by_name(p->ole, "Book");
    }
    if (!p->stream) {
        *error = tr("not a readable .xls workbook");
        return nullptr;
    }
    p->records = std::make_unique<RecordInput>(p->stream);
    // A compound file may chain one sector into its stream more than once:
    // the file's own size bounds the rows as well as the stream's.
    const qint64 bytes = std::min<qint64>(QFileInfo(path).size(), qint64(p->records->size()));
    p->maxRows = bytes / kMinRowBytes;
    if (!p->open()) {
        *error = p->error;
        return nullptr;
    }
    return std::unique_ptr<BiffReader>(new BiffReader(std::move(p)));
}

std::unique_ptr<BiffReader> BiffReader::openStream(const QByteArray &bytes, QString *error)
{
    startGsf();
    if (bytes.isEmpty()) {
        *error = tr("no workbook stream");
        return nullptr;
    }
    auto p = std::make_unique<BiffReaderPrivate>();
    p->stream = gsf_input_memory_new(reinterpret_cast<const guint8 *>(bytes.constData()),
                                     gsf_off_t(bytes.size()), FALSE);
    if (!p->stream) {
        *error = tr("no workbook stream");
        return nullptr;
    }
    p->records = std::make_unique<RecordInput>(p->stream);
    p->maxRows = bytes.size() / kMinRowBytes;
    if (!p->open()) {
        *error = p->error;
        return nullptr;
    }
    return std::unique_ptr<BiffReader>(new BiffReader(std::move(p)));
}

int BiffReader::sheetCount() const
{
    return int(d->sheets.size());
}

bool BiffReader::isWorksheet(int sheet) const
{
    return sheet >= 0 && sheet < sheetCount() && d->sheets[size_t(sheet)].worksheet;
}

bool BiffReader::readSheet(int sheet, const RowFn &rows)
{
    return d->readSheet(sheet, rows);
}

QString BiffReader::errorMessage() const
{
    return d->error;
}

qint64 BiffReader::streamPosition() const
{
    return qint64(d->records->pos());
}

qint64 BiffReader::streamSize() const
{
    return qint64(d->records->size());
}

QString numberText(double v)
{
    // Fixed notation reads like the table's own texts; exponents only where
    // fixed notation would be absurdly long.
    const double a = std::abs(v);
    if (v == 0.0)
        return QStringLiteral("0");
    // Whole numbers (row numbers, counts) the quick way: the same digits.
    if (a < 1e15 && v == std::trunc(v))
        return QString::number(qint64(v));
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
    startGsf();
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
    BiffWorkbook book;
    const std::unique_ptr<BiffReader> reader = BiffReader::openStream(stream, &book.errorMessage);
    if (!reader)
        return book;
    QVector<BiffSheet> sheets(reader->sheetCount());
    for (int s = 0; s < reader->sheetCount(); ++s) {
        if (!reader->isWorksheet(s))
            continue;
        QVector<QVariantList> &rows = sheets[s].rows;
        const bool ok = reader->readSheet(s, [&rows](quint32 row, const QVariantList &cells) {
            rows.resize(int(row) + 1);
            QVariantList &out = rows[int(row)];
            out = cells;
            while (!out.isEmpty() && !out.last().isValid())
                out.removeLast();
            return true;
        });
        if (!ok) {
            book.errorMessage = reader->errorMessage();
            return book;
        }
    }
    book.ok = true;
    book.sheets = sheets;
    return book;
}

} // namespace xls
