#pragma once

#include "tablesource.h"

#include <QStringList>

class DataModel;

// The header row of the spreadsheet exports: No., Time, Value, Unit, WaveLength.
const QStringList &readingTableHeaders();

// The reading table's rows taken straight from the readings it shows: the
// same cells ModelTableSource makes of the table's display texts, without
// formatting every time to text and parsing it back, which is what lets an
// export of 10^7 readings run in seconds.
//
// The rows are those the table had when the source was made: readings that
// arrive while a long export runs (a report's progress dialog turns the event
// loop) are not part of it, so rowCount() is what the file holds.
class ReadingTableSource : public TableSource
{
public:
    explicit ReadingTableSource(const DataModel &model);
    int rowCount() const override { return m_rows; }
    void row(int index, RowCells &out) const override;
    bool concurrentRows() const override { return true; }

private:
    const DataModel &m_model;
    int m_rows;
};
