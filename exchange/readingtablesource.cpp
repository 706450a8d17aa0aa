#include "readingtablesource.h"

#include "datamodel.h"
#include "readingstore.h"

namespace {
qint64 floorTo(qint64 value, qint64 unit)
{
    const qint64 q = value / unit - ((value % unit != 0) && (value < 0) ? 1 : 0);
    return q * unit;
}
} // namespace

const QStringList &readingTableHeaders()
{
    static const QStringList headers = {QStringLiteral("No."), QStringLiteral("Time"),
                                        QStringLiteral("Value"), QStringLiteral("Unit"),
                                        QStringLiteral("WaveLength")};
    return headers;
}

ReadingTableSource::ReadingTableSource(const DataModel &model)
    : m_model(model), m_rows(model.store() ? model.rowCount() : 0)
{
}

void ReadingTableSource::row(int index, RowCells &out) const
{
    const ReadingStore &store = *m_model.store();
    const int i = m_model.readingIndex(index);
    const bool stored = store.stored(i);
    out.cells[0].setNumber(stored ? store.storeNo(i) : index + 1);

    // The table shows a stored reading's time to the minute and a live one's
    // to the second; the cell holds exactly the time shown.
    const WallTime time = stored ? store.dmmDateTime(i) : store.dateTime(i);
    if (time.isNull()) {
        out.cells[1].setText(QString());
    } else {
        const qint64 shown = floorTo(time.ms, stored ? 60000 : 1000);
        if (wallClockInSheetRange(shown))
            out.cells[1].setTime(shown, !stored);
        else
            out.cells[1].setText(time.toString(!stored));
    }

    out.cells[2].setText(store.ownText(i));
    out.cells[3].setText(store.unit(i));
    out.cells[4].setText(QStringLiteral("%1nm").arg(store.waveLength(i)));
}
