#include "xlsreader.h"

#include "xlsdatetime.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <freexl.h>

#include <cmath>

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

QString shortestText(double v)
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
        return shortestText(cell.value.double_value);
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

// Reads one row up to its last non-empty cell; false on a FreeXL failure.
bool readRow(const void *handle, unsigned row, unsigned short columns, QVariantList *out)
{
    out->clear();
    int used = 0;
    for (unsigned short c = 0; c < columns; ++c) {
        FreeXL_CellValue cell;
        if (freexl_get_cell_value(handle, row, c, &cell) != FREEXL_OK)
            return false;
        const QVariant v = cellValue(cell);
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

} // namespace

ReadResult readRows(const QString &path)
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

    unsigned int info = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &info) != FREEXL_OK ||
        info == FREEXL_BIFF_OBFUSCATED)
        return failed(ReadStatus::OpenFailed, QStringLiteral("the workbook is encrypted"));
    unsigned int sheets = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK ||
        sheets == 0 || sheets == FREEXL_UNKNOWN)
        return failed(ReadStatus::OpenFailed, QStringLiteral("the workbook has no sheet"));

    ReadResult result;
    result.status = ReadStatus::Ok;
    QVariantList firstHeader;
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
        if (!readRow(handle.get(), 0, columns, &row)) {
            result.status = ReadStatus::ReadFailed;
            result.errorMessage = QStringLiteral("cannot read sheet %1").arg(s + 1);
            return result;
        }
        // Row 1 of sheet 1 is the header whatever it holds; a further sheet
        // belongs to the table only when it repeats that header.
        if (s == 0)
            firstHeader = row;
        else if (firstHeader.isEmpty() || row != firstHeader)
            continue;
        for (unsigned int r = 1; r < rows; ++r) {
            if (!readRow(handle.get(), r, columns, &row)) {
                result.status = ReadStatus::ReadFailed;
                result.errorMessage =
                    QStringLiteral("cannot read row %1 of sheet %2").arg(r + 1).arg(s + 1);
                return result;
            }
            if (row.isEmpty())
                continue;
            if (row.size() < kMinCells) {
                ++result.skippedRows;
                continue;
            }
            result.rows.append(row);
        }
    }
    return result;
}

} // namespace xls
