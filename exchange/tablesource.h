#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <QtGlobal>

#include <array>

class QAbstractItemModel;

// One cell of a table row as the exports write it.
//
// A time is held as its local calendar date and time of day, counted in
// milliseconds from 1970-01-01 00:00 of that same calendar ("wall-clock
// milliseconds"): no time zone is involved, so a spreadsheet's serial day
// follows by arithmetic alone (as WallTime keeps a reading's time).
struct TableCell
{
    enum Kind : quint8
    {
        Empty, // no cell at all
        Number,
        Text,
        Time,
    };

    Kind kind = Empty;
    bool seconds = true;  // Time: shown as "yyyy-MM-dd hh:mm:ss", otherwise "yyyy-MM-dd hh:mm"
    double number = 0;    // Number
    qint64 wallMsecs = 0; // Time
    QString text;         // Text

    void setEmpty() { kind = Empty; }
    void setNumber(double v)
    {
        kind = Number;
        number = v;
    }
    void setText(const QString &t)
    {
        kind = Text;
        text = t;
    }
    void setTime(qint64 wall, bool withSeconds)
    {
        kind = Time;
        wallMsecs = wall;
        seconds = withSeconds;
    }

    // The text the reading table shows for the cell: integers in decimal,
    // other numbers in their shortest form, times in the table's format.
    QString displayText() const;
};

// The five cells of one table row: No., Time, Value, Unit, WaveLength.
struct RowCells
{
    static constexpr int kColumns = 5;
    std::array<TableCell, kColumns> cells;
};

// Where the exports take their rows from, one at a time, so that nothing
// needs the whole table in memory. row() fills every cell of out (out is
// reused from row to row).
class TableSource
{
public:
    virtual ~TableSource();
    virtual int rowCount() const = 0;
    virtual void row(int index, RowCells &out) const = 0;
    // Whether row() may be called from several threads at once (it only
    // reads), so that a writer can format rows in parallel.
    virtual bool concurrentRows() const { return false; }
};

// The display values of any table model, as the exports have always written
// them: column B's date-times and time texts ("yyyy-MM-dd hh:mm:ss" or
// "yyyy-MM-dd hh:mm") become times when a spreadsheet can hold them
// (1900-01-01 to 9999-12-31), numbers stay numbers, everything else is text.
class ModelTableSource : public TableSource
{
public:
    explicit ModelTableSource(const QAbstractItemModel &model) : m_model(model) {}
    int rowCount() const override;
    void row(int index, RowCells &out) const override;

private:
    const QAbstractItemModel &m_model;
};

// Wall-clock milliseconds of a local date and time, and back to text.
qint64 wallClockMsecs(const QDate &date, const QTime &time);
QString wallClockText(qint64 wallMsecs, bool seconds);
// Whether a spreadsheet of the 1900 date system can hold the time.
bool wallClockInSheetRange(qint64 wallMsecs);
// Serial days of the 1900 date system (as spreadsheets hold times) of
// wall-clock milliseconds that wallClockInSheetRange accepted.
double wallClockSerialDays(qint64 wallMsecs);
