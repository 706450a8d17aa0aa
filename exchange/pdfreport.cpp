#include "pdfreport.h"

#include "tablesource.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QLine>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QVariant>
#include <algorithm>

namespace pdf {

namespace {

const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString trWidget(const char *text)
{
    return QCoreApplication::translate("Widget", text);
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Draws text so that it ends at the right border, in a box of the given top
// and height, standing on the box's bottom.
void drawRightAligned(QPainter &painter, int right, int top, int height, const QString &text)
{
    const int width = painter.fontMetrics().horizontalAdvance(text);
    painter.drawText(QRect(right - width, top, width, height), Qt::AlignBottom | Qt::AlignRight,
                     text);
}

QString pageLabel(int page, int pages)
{
    return QStringLiteral("%1/%2").arg(page).arg(pages);
}

} // namespace

Layout computeLayout(int pageWidth, int pageHeight, int rowHeight, int rowCount,
                     const QList<ReportColumn> &columns, int columnCount)
{
    Layout layout;
    layout.margin = pageWidth / 20;
    layout.right = pageWidth - layout.margin;
    layout.contentWidth = pageWidth - 2 * layout.margin;
    // A zero row height would make every row land on the same spot.
    layout.rowHeight = std::max(1, rowHeight);
    const int h = layout.rowHeight;
    // A small page or a large default font can leave no room for a row; the
    // report then still prints every row, one per page, instead of failing.
    layout.rowsPerPage = std::max(1, (pageHeight - 5 * h) / h);
    const int rows = std::max(0, rowCount);
    layout.tablePages = rows / layout.rowsPerPage + (rows % layout.rowsPerPage ? 1 : 0);

    const int printed = std::max(0, int(std::min<qsizetype>(columnCount, columns.size())));
    long long weightSum = 0;
    for (int c = 0; c < printed; ++c)
        weightSum += std::max(0, columns.at(c).weight);
    int x = layout.margin;
    for (int c = 0; c < printed; ++c) {
        const double share =
            weightSum > 0 ? double(std::max(0, columns.at(c).weight)) / weightSum : 1.0 / printed;
        // Truncated, so the columns may end a few units short of R; the
        // right border is drawn at R regardless.
        const int width = int(share * layout.contentWidth);
        layout.colX.append(x);
        layout.colW.append(width);
        x += width;
    }
    return layout;
}

QString cellText(const QVariant &value)
{
    if (value.userType() == QMetaType::QDateTime)
        return value.toDateTime().toString(kDateTimeFormat);
    // Integers come out in decimal and text unchanged, as the conversion gives.
    return value.toString();
}

namespace {

// The report of rowCount rows of columnCount cells, each cell's text from textAt(row, column).
bool writeRows(const QString &path, int rowCount, int columnCount,
               const std::function<QString(int, int)> &textAt, const QList<ReportColumn> &columns,
               const std::function<bool(int, int)> &progress, QString *error)
{
    if (path.isEmpty())
        return fail(error, trWidget("No file name was given for the PDF report."));

    // QSaveFile only replaces the target once everything was written, so a
    // failed or cancelled report never leaves a truncated document behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error,
                    trWidget("The file %1 cannot be written: %2").arg(path, file.errorString()));

    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter;
    if (!painter.begin(&writer)) {
        file.cancelWriting();
        return fail(error, trWidget("The PDF report cannot be started."));
    }

    // Row height from the painter's default font, before the report font.
    const int rowHeight = 2 * painter.fontMetrics().height();
    const Layout layout = computeLayout(painter.device()->width(), painter.device()->height(),
                                        rowHeight, rowCount, columns, columnCount);
    const int h = layout.rowHeight;
    const int m = layout.margin;
    const int R = layout.right;
    const int printed = layout.colX.size();
    const int pages = layout.tablePages + 1;
    const int labelTop = (layout.rowsPerPage + 4) * h;

    QFont font = painter.font();
    font.setPointSize(12);
    painter.setFont(font);

    auto cancelled = [&](int done) { return progress && !progress(done, rowCount); };
    if (cancelled(0)) {
        painter.end();
        file.cancelWriting();
        return fail(error, trWidget("The PDF report was cancelled."));
    }

    drawRightAligned(painter, R, labelTop, h, pageLabel(1, pages));
    // Without table pages the document is the labelled single page; a new
    // page here would only add a blank one.
    if (layout.tablePages > 0)
        writer.newPage();
    QPen pen = painter.pen();
    pen.setWidth(2);
    painter.setPen(pen);

    QVector<QLine> lines;
    int firstRow = 0;
    for (int p = 0; p < layout.tablePages; ++p) {
        const int k = std::min(layout.rowsPerPage, rowCount - firstRow);
        lines.clear();

        const QString stamp = QDateTime::currentDateTime().toString(kDateTimeFormat);
        drawRightAligned(painter, R, 0, 3 * h, stamp);
        drawRightAligned(painter, R, labelTop, h, pageLabel(p + 2, pages));

        lines.append(QLine(m, 3 * h, R, 3 * h));
        lines.append(QLine(m, 4 * h, R, 4 * h));
        for (int c = 0; c < printed; ++c) {
            const int x = layout.colX.at(c);
            lines.append(QLine(x, 3 * h, x, (k + 4) * h));
            painter.drawText(QRect(x, 3 * h, layout.colW.at(c), h), Qt::AlignCenter,
                             columns.at(c).title);
        }
        lines.append(QLine(R, 3 * h, R, (k + 4) * h));

        for (int i = 0; i < k; ++i) {
            const int y = (4 + i) * h;
            const int row = firstRow + i;
            for (int c = 0; c < printed; ++c) {
                const QString text = textAt(row, c);
                painter.drawText(QRect(layout.colX.at(c), y, layout.colW.at(c), h),
                                 Qt::AlignBottom | Qt::AlignHCenter, text);
            }
            lines.append(QLine(m, y + h, R, y + h));
        }
        painter.drawLines(lines);
        firstRow += k;

        if (cancelled(firstRow)) {
            painter.end();
            file.cancelWriting();
            return fail(error, trWidget("The PDF report was cancelled."));
        }
        if (p + 1 < layout.tablePages)
            writer.newPage();
    }

    if (!painter.end()) {
        file.cancelWriting();
        return fail(error, trWidget("The PDF report could not be completed."));
    }
    if (!file.commit())
        return fail(error,
                    trWidget("The file %1 cannot be written: %2").arg(path, file.errorString()));
    return true;
}

} // namespace

bool writeReport(const QString &path, const QAbstractItemModel &model,
                 const QList<ReportColumn> &columns, const std::function<bool(int, int)> &progress,
                 QString *error)
{
    const auto text = [&model](int row, int column) {
        return cellText(model.index(row, column).data(Qt::DisplayRole));
    };
    return writeRows(path, model.rowCount(), model.columnCount(), text, columns, progress, error);
}

bool writeReport(const QString &path, const TableSource &source, const QList<ReportColumn> &columns,
                 const std::function<bool(int, int)> &progress, QString *error)
{
    // Rows are drawn cell by cell; each row is fetched once.
    RowCells cells;
    int fetched = -1;
    const auto text = [&](int row, int column) {
        if (row != fetched) {
            source.row(row, cells);
            fetched = row;
        }
        return cells.cells[size_t(column)].displayText();
    };
    return writeRows(path, source.rowCount(), RowCells::kColumns, text, columns, progress, error);
}

} // namespace pdf
