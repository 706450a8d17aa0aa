#include "xlsreader.h"

#include "biffworkbook.h"
#include "tablerules.h"
#include "xlsdatetime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <freexl.h>

#include <algorithm>

namespace xls {
namespace {

// Cells of a row the table uses: A..E.
constexpr int kCells = 5;
// The last row a sheet has; a sheet whose rows reach it is full.
constexpr quint32 kLastSheetRow = 65535;
using TableRules = SheetTableRules<kLastSheetRow>;

QString tr(const char *text)
{
    return QCoreApplication::translate("xls", text);
}

ReadSummary failure(ReadStatus status, const QString &why)
{
    ReadSummary r;
    r.status = status;
    r.errorMessage = why;
    return r;
}

ReadResult collected(const ReadSummary &summary, QVector<QVariantList> rows)
{
    ReadResult result;
    result.status = summary.status;
    result.errorMessage = summary.errorMessage;
    result.rows = std::move(rows);
    return result;
}

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

QVariant freexlDateValue(unsigned char type, const QString &text)
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

QVariant freexlValue(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return QString::number(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return numberText(cell.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT: {
        const QString text =
            cell.value.text_value ? QString::fromUtf8(cell.value.text_value) : QString();
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return freexlDateValue(
            cell.type, QString::fromLatin1(cell.value.text_value ? cell.value.text_value : ""));
    default:
        return QVariant();
    }
}

} // namespace

bool readerAvailable()
{
    // The record walk needs nothing but libgsf, which starts on first use.
    return true;
}

ReadSummary readTable(const QString &path, const RowSink &sink, const ReadProgress &progress)
{
    // libgsf would happily try to read a directory.
    if (!QFileInfo(path).isFile())
        return failure(ReadStatus::OpenFailed, tr("no such file"));
    QString error;
    const std::unique_ptr<BiffReader> book = BiffReader::openFile(path, &error);
    if (!book)
        return failure(ReadStatus::OpenFailed, error);
    if (book->sheetCount() == 0 || !book->isWorksheet(0))
        return failure(ReadStatus::OpenFailed, tr("the first sheet holds no table"));

    TableRules table(sink);
    // Asked between sheets and every few thousand rows, so that a long
    // import can show how far it is and be stopped.
    constexpr qint64 kRowsPerProgress = 4096;
    bool cancelled = false;
    auto goOn = [&] {
        cancelled =
            cancelled || (progress && !progress(book->streamPosition(), book->streamSize()));
        return !cancelled;
    };
    for (int s = 0; s < book->sheetCount() && book->isWorksheet(s) && goOn(); ++s) {
        bool more = false;
        auto walk = [&](const BiffReader::RowFn &rows) {
            return book->readSheet(s, [&](quint32 row, const QVariantList &cells) {
                if (table.rows() % kRowsPerProgress == kRowsPerProgress - 1 && !goOn())
                    return false;
                return rows(row, cells);
            });
        };
        if (!table.readSheet(s, walk, &more)) {
            ReadSummary r =
                failure(table.rows() > 0 ? ReadStatus::ReadFailed : ReadStatus::OpenFailed,
                        book->errorMessage());
            r.rows = table.rows();
            return r;
        }
        if (cancelled || !more)
            break;
    }
    ReadSummary r;
    r.status = cancelled ? ReadStatus::Cancelled : ReadStatus::Ok;
    r.rows = table.rows();
    return r;
}

ReadResult readRows(const QString &path)
{
    QVector<QVariantList> rows;
    const ReadSummary summary =
        readTable(path, [&rows](const QVariantList &cells) { rows.append(cells); });
    return collected(summary, std::move(rows));
}

ReadResult readRowsNative(const QString &path)
{
    return readRows(path);
}

ReadResult readRowsWithFreeXL(const QString &path)
{
    if (!freexl_version())
        return collected(failure(ReadStatus::ReaderUnavailable, QStringLiteral("no FreeXL")), {});
    if (!QFileInfo(path).isFile())
        return collected(failure(ReadStatus::OpenFailed, QStringLiteral("no such file")), {});
    Handle handle;
    if (freexl_open(QFile::encodeName(path).constData(), handle.out()) != FREEXL_OK ||
        !handle.get())
        return collected(failure(ReadStatus::OpenFailed, QStringLiteral("FreeXL cannot open it")),
                         {});
    unsigned int info = 0;
    unsigned int sheets = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &info) != FREEXL_OK ||
        info == FREEXL_BIFF_OBFUSCATED ||
        freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK ||
        sheets == 0 || sheets == FREEXL_UNKNOWN)
        return collected(failure(ReadStatus::OpenFailed, QStringLiteral("no readable sheet")), {});

    QVector<QVariantList> rows;
    TableRules table([&rows](const QVariantList &cells) { rows.append(cells); });
    QVariantList cells;
    for (unsigned int s = 0; s < sheets && s <= 0xFFFF; ++s) {
        unsigned int rowCount = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(handle.get(), static_cast<unsigned short>(s)) !=
                FREEXL_OK ||
            freexl_worksheet_dimensions(handle.get(), &rowCount, &columns) != FREEXL_OK)
            return collected(failure(ReadStatus::ReadFailed, QStringLiteral("unreadable sheet")),
                             rows);
        bool started = false;
        bool belongs = false;
        for (unsigned int r = 0; r < rowCount; ++r) {
            cells.clear();
            bool any = false;
            for (unsigned short c = 0; c < kCells; ++c) {
                FreeXL_CellValue cell;
                QVariant v;
                if (c < columns) {
                    if (freexl_get_cell_value(handle.get(), r, c, &cell) != FREEXL_OK)
                        return collected(
                            failure(ReadStatus::ReadFailed, QStringLiteral("unreadable cell")),
                            rows);
                    v = freexlValue(cell);
                }
                any = any || v.isValid();
                cells.append(v);
            }
            if (!any)
                continue;
            if (!started) {
                started = true;
                belongs = table.startSheet(int(s), r == 0 ? cells : QVariantList());
                if (!belongs || r == 0)
                    continue;
            }
            if (belongs)
                table.row(r, cells);
        }
        if (!started)
            belongs = table.startSheet(int(s), QVariantList());
        if (!belongs)
            break;
        table.endSheet();
    }
    ReadSummary ok;
    ok.status = ReadStatus::Ok;
    return collected(ok, rows);
}

} // namespace xls
