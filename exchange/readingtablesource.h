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
class ReadingTableSource : public TableSource
{
public:
    explicit ReadingTableSource(const DataModel &model) : m_model(model) {}
    int rowCount() const override;
    void row(int index, RowCells &out) const override;
    bool concurrentRows() const override { return true; }

private:
    const DataModel &m_model;
};
