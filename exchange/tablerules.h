#pragma once

#include "xlsreader.h"

// The rules both workbook readers (.xls and .xlsx) follow for which sheets
// make up the table: see xls::readTable. LastSheetRow is the last row (from
// 0) a sheet of the format has.
namespace xls {

template <quint32 LastSheetRow> class SheetTableRules
{
public:
    explicit SheetTableRules(RowSink sink) : m_sink(std::move(sink)) {}

    // Whether the sheet with this first row goes on with the table: sheet 1
    // always; a further one only behind a full sheet and under the same
    // header.
    bool startSheet(int sheet, const QVariantList &header)
    {
        m_lastRow = 0;
        if (sheet == 0) {
            m_header = header;
            return true;
        }
        return m_previousFull && !m_header.isEmpty() && header == m_header;
    }

    void row(quint32 row, const QVariantList &cells)
    {
        m_lastRow = row;
        ++m_rows;
        m_sink(cells);
    }

    void endSheet() { m_previousFull = m_lastRow == LastSheetRow; }
    qint64 rows() const { return m_rows; }

    // Reads sheet s through walk, which hands each row of the sheet in order
    // to the function it is given (row from 0, five cells; that function
    // returns false to stop the sheet) and returns false on a failure.
    // *more says whether the table goes on after this sheet.
    template <typename Walk> bool readSheet(int s, Walk walk, bool *more)
    {
        bool started = false;
        bool belongs = false;
        const bool ok = walk([&](quint32 r, const QVariantList &cells) {
            if (!started) {
                started = true;
                // A sheet without a first row has an empty header.
                belongs = startSheet(s, r == 0 ? cells : QVariantList());
                if (!belongs || r == 0)
                    return belongs;
            }
            row(r, cells);
            return true;
        });
        if (!ok)
            return false;
        if (!started)
            belongs = startSheet(s, QVariantList());
        *more = belongs;
        if (belongs)
            endSheet();
        return true;
    }

private:
    RowSink m_sink;
    QVariantList m_header;
    bool m_previousFull = false;
    quint32 m_lastRow = 0;
    qint64 m_rows = 0;
};

} // namespace xls
