#include "xlsreader.h"

#include "biffrecords.h"
#include "biffworkbook.h"
#include "xlsdatetime.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <freexl.h>

namespace xls {
namespace {

// Rows need the five table columns to become readings.
constexpr int kMinCells = 5;

// Closes the FreeXL handle on every path; FreeXL wants a close even after a
// failed open.
class Handle
{
public:
    Handle() = default;
    ~Handle()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    const void **out() { return &m_handle; }
    const void *get() const { return m_handle; }

private:
    const void *m_handle = nullptr;
};

// The numbers of a workbook's number cells by sheet, row and column, read
// from the BIFF records directly. FreeXL hands out date-formatted cells only
// to the precision of their format (a date-time shown as a date loses its
// time of day), so such cells are completed from here.
class RawNumbers
{
public:
    void load(const QString &path) { parse(workbookStream(path)); }

    bool value(int sheet, unsigned row, unsigned col, double *v) const
    {
        if (sheet < 0 || sheet >= m_sheets.size())
            return false;
        const auto it = m_sheets.at(sheet).constFind(key(row, col));
        if (it == m_sheets.at(sheet).constEnd())
            return false;
        *v = it.value();
        return true;
    }

private:
    static quint64 key(unsigned row, unsigned col) { return (quint64(row) << 16) | col; }

    // Sheets are numbered in the order of their BOUNDSHEET records, each of
    // which gives the stream position of its sheet's BOF.
    void parse(const QByteArray &stream)
    {
        const auto *d = reinterpret_cast<const uchar *>(stream.constData());
        const int size = stream.size();
        QHash<quint32, int> sheetAt;
        int depth = 0;
        int current = -1;
        for (int pos = 0; pos + 4 <= size;) {
            const int start = pos;
            const quint16 id = qFromLittleEndian<quint16>(d + pos);
            const int len = qFromLittleEndian<quint16>(d + pos + 2);
            const uchar *p = d + pos + 4;
            pos += 4 + len;
            if (pos > size)
                break;
            switch (id) {
            case RecBoundSheet:
                if (depth == 1 && current < 0 && len >= 4) {
                    const int index = sheetAt.size();
                    sheetAt.insert(qFromLittleEndian<quint32>(p), index);
                    m_sheets.resize(index + 1);
                }
                break;
            case RecBof:
                if (depth == 0)
                    current = sheetAt.value(quint32(start), -1);
                ++depth;
                break;
            case RecEof:
                if (depth > 0 && --depth == 0)
                    current = -1;
                break;
            case RecNumber:
                if (current >= 0 && depth == 1 && len >= 14)
                    put(current, p, doubleAt(p + 6));
                break;
            case RecRk:
                if (current >= 0 && depth == 1 && len >= 10)
                    put(current, p, rkValue(qFromLittleEndian<quint32>(p + 6)));
                break;
            case RecMulRk: // row, first column, (xf, rk)..., last column
                if (current >= 0 && depth == 1 && len >= 6) {
                    const unsigned row = qFromLittleEndian<quint16>(p);
                    const unsigned first = qFromLittleEndian<quint16>(p + 2);
                    const int cells = (len - 6) / 6;
                    for (int i = 0; i < cells; ++i)
                        m_sheets[current].insert(
                            key(row, first + i),
                            rkValue(qFromLittleEndian<quint32>(p + 4 + i * 6 + 2)));
                }
                break;
            default:
                break;
            }
        }
    }

    void put(int sheet, const uchar *p, double v)
    {
        m_sheets[sheet].insert(
            key(qFromLittleEndian<quint16>(p), qFromLittleEndian<quint16>(p + 2)), v);
    }

    QVector<QHash<quint64, double>> m_sheets;
};

QVariant dateValue(unsigned char type, const QString &text)
{
    QDateTime dt;
    switch (type) {
    case FREEXL_CELL_DATE:
        dt = QDateTime(parseIsoDate(text), QTime(0, 0));
        break;
    case FREEXL_CELL_DATETIME: {
        QDate date;
        QTime time;
        if (parseTimestamp(text, &date, &time, false))
            dt = QDateTime(date, time);
        break;
    }
    default:
        // A time alone counts from day 0 of the 1900 system.
        dt = QDateTime(QDate(1899, 12, 30), parseIsoTime(text));
        break;
    }
    if (!dt.isValid())
        return text;
    return dt;
}

QVariant cellValue(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return QString::number(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return numberText(cell.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        return cell.value.text_value ? QString::fromUtf8(cell.value.text_value) : QString();
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return dateValue(cell.type,
                         QString::fromLatin1(cell.value.text_value ? cell.value.text_value : ""));
    default:
        return QVariant();
    }
}

// What readRow needs beyond FreeXL for date cells of a limited format.
struct DateSource
{
    QString path;
    bool date1904 = false;
    int sheet = 0;
    bool loaded = false;
    RawNumbers raw;
};

QVariant completedDate(DateSource *source, unsigned row, unsigned short col, const QVariant &v)
{
    if (!source->loaded) {
        source->raw.load(source->path);
        source->loaded = true;
    }
    double serial = 0;
    if (!source->raw.value(source->sheet, row, col, &serial))
        return v;
    const QDateTime dt = serialDateTime(serial, source->date1904);
    // Only complete what FreeXL reported: the same day, or the same time of day.
    const QDateTime shown = v.toDateTime();
    const bool timeOnly = shown.date() == QDate(1899, 12, 30);
    if (!dt.isValid() || (timeOnly ? dt.time() != shown.time() : dt.date() != shown.date()))
        return v;
    return dt;
}

// Reads one row up to its last non-empty cell; false on a FreeXL failure.
bool readRow(const void *handle, unsigned row, unsigned short columns, QVariantList *out,
             DateSource *dates)
{
    out->clear();
    int used = 0;
    for (unsigned short c = 0; c < columns; ++c) {
        FreeXL_CellValue cell;
        if (freexl_get_cell_value(handle, row, c, &cell) != FREEXL_OK)
            return false;
        QVariant v = cellValue(cell);
        if (cell.type == FREEXL_CELL_DATE || cell.type == FREEXL_CELL_TIME)
            v = completedDate(dates, row, c, v);
        out->append(v);
        if (v.isValid())
            used = c + 1;
    }
    while (out->size() > used)
        out->removeLast();
    return true;
}

ReadResult failed(ReadStatus status, const QString &why)
{
    ReadResult r;
    r.status = status;
    r.errorMessage = why;
    return r;
}

// What every read checks of an open handle: not encrypted, some sheet.
bool checkOpened(const void *handle, unsigned int *sheets, bool *date1904, ReadResult *failure)
{
    unsigned int info = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &info) != FREEXL_OK ||
        info == FREEXL_BIFF_OBFUSCATED) {
        *failure = failed(ReadStatus::OpenFailed, QStringLiteral("the workbook is encrypted"));
        return false;
    }
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, sheets) != FREEXL_OK || *sheets == 0 ||
        *sheets == FREEXL_UNKNOWN) {
        *failure = failed(ReadStatus::OpenFailed, QStringLiteral("the workbook has no sheet"));
        return false;
    }
    if (date1904 && freexl_get_info(handle, FREEXL_BIFF_DATEMODE, &info) == FREEXL_OK)
        *date1904 = info == FREEXL_BIFF_DATEMODE_1904;
    return true;
}

// Collects the table from the sheets' rows: sheet 1 without its header row,
// then every further sheet whose first row repeats that header.
class TableCollector
{
public:
    explicit TableCollector(ReadResult *result) : m_result(result) {}

    // False when the sheet does not belong to the table.
    bool header(int sheet, const QVariantList &row)
    {
        // Row 1 of sheet 1 is the header whatever it holds.
        if (sheet == 0) {
            m_header = row;
            return true;
        }
        return !m_header.isEmpty() && row == m_header;
    }

    void row(const QVariantList &row)
    {
        if (row.isEmpty())
            return;
        if (row.size() < kMinCells) {
            ++m_result->skippedRows;
            return;
        }
        m_result->rows.append(row);
    }

private:
    ReadResult *m_result;
    QVariantList m_header;
};

ReadResult fromBiffWorkbook(const BiffWorkbook &book)
{
    ReadResult result;
    result.status = ReadStatus::Ok;
    TableCollector table(&result);
    for (int s = 0; s < book.sheets.size(); ++s) {
        const QVector<QVariantList> &rows = book.sheets.at(s).rows;
        if (rows.isEmpty() || !table.header(s, rows.first()))
            continue;
        for (int r = 1; r < rows.size(); ++r)
            table.row(rows.at(r));
    }
    return result;
}

} // namespace

ReadResult readRowsWithFreeXL(const QString &path)
{
    if (!freexl_version())
        return failed(ReadStatus::ReaderUnavailable, QStringLiteral("FreeXL is not available"));
    // FreeXL would happily fopen a directory.
    if (!QFileInfo(path).isFile())
        return failed(ReadStatus::OpenFailed, QStringLiteral("no such file"));

    Handle handle;
    if (freexl_open(QFile::encodeName(path).constData(), handle.out()) != FREEXL_OK ||
        !handle.get())
        return failed(ReadStatus::OpenFailed, QStringLiteral("not a readable .xls workbook"));

    ReadResult failure;
    unsigned int sheets = 0;
    DateSource dates;
    dates.path = path;
    if (!checkOpened(handle.get(), &sheets, &dates.date1904, &failure))
        return failure;

    ReadResult result;
    result.status = ReadStatus::Ok;
    TableCollector table(&result);
    QVariantList row;
    for (unsigned int s = 0; s < sheets && s <= 0xFFFF; ++s) {
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(handle.get(), static_cast<unsigned short>(s)) !=
                FREEXL_OK ||
            freexl_worksheet_dimensions(handle.get(), &rows, &columns) != FREEXL_OK) {
            if (s == 0)
                return failed(ReadStatus::OpenFailed, QStringLiteral("cannot open sheet 1"));
            result.status = ReadStatus::ReadFailed;
            result.errorMessage = QStringLiteral("cannot open sheet %1").arg(s + 1);
            return result;
        }
        if (rows == 0)
            continue;
        dates.sheet = int(s);
        if (!readRow(handle.get(), 0, columns, &row, &dates)) {
            result.status = ReadStatus::ReadFailed;
            result.errorMessage = QStringLiteral("cannot read sheet %1").arg(s + 1);
            return result;
        }
        if (!table.header(int(s), row))
            continue;
        for (unsigned int r = 1; r < rows; ++r) {
            if (!readRow(handle.get(), r, columns, &row, &dates)) {
                result.status = ReadStatus::ReadFailed;
                result.errorMessage =
                    QStringLiteral("cannot read row %1 of sheet %2").arg(r + 1).arg(s + 1);
                return result;
            }
            table.row(row);
        }
    }
    return result;
}

ReadResult readRowsNative(const QString &path)
{
    const BiffWorkbook book = readBiffWorkbook(workbookStream(path));
    if (!book.ok)
        return failed(ReadStatus::OpenFailed, book.errorMessage);
    return fromBiffWorkbook(book);
}

ReadResult readRows(const QString &path)
{
    if (!freexl_version())
        return failed(ReadStatus::ReaderUnavailable, QStringLiteral("FreeXL is not available"));
    if (!QFileInfo(path).isFile())
        return failed(ReadStatus::OpenFailed, QStringLiteral("no such file"));

    // A BIFF8 workbook is read from its records by the bounds-checked walk.
    // FreeXL reads past its buffers on some damaged BIFF8 files, so it only
    // sees the older BIFF versions the walk does not read.
    const QByteArray stream = workbookStream(path);
    if (stream.isEmpty())
        return failed(ReadStatus::OpenFailed, QStringLiteral("not a readable .xls workbook"));
    if (isBiff8Stream(stream)) {
        const BiffWorkbook book = readBiffWorkbook(stream);
        if (!book.ok)
            return failed(ReadStatus::OpenFailed, book.errorMessage);
        return fromBiffWorkbook(book);
    }

    unsigned int sheets = 0;
    {
        Handle info;
        if (freexl_open_info(QFile::encodeName(path).constData(), info.out()) != FREEXL_OK ||
            !info.get())
            return failed(ReadStatus::OpenFailed, QStringLiteral("not a readable .xls workbook"));
        ReadResult failure;
        if (!checkOpened(info.get(), &sheets, nullptr, &failure))
            return failure;
    }
    return readRowsWithFreeXL(path);
}

} // namespace xls
