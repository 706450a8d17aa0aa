#pragma once

#include "readingstore.h"

#include <QString>

#include <functional>

// Reader of the reading CSV files the program writes (see csvwriter.h), also
// after a spreadsheet saved them again: columns are found by their header
// names (any order; Loss_dB, Verdict and unknown columns are not needed),
// a UTF-8 byte order mark and CRLF or LF line ends are fine, quoted fields
// may hold commas, quotes and line breaks, blank lines are skipped.
//
// Every row becomes a reading:
// - Time and MeterTime as written (empty: no time).
// - The three powers exactly as written; a row with all three empty is an
//   over-range reading (under range when its Display holds a "-") with the
//   range limits as values (39,990 uW or 0.01 uW) and Display as its texts.
// - Unit and Display as written, without the apostrophe the writer puts
//   before texts a spreadsheet would take for a formula; Display is the text
//   in the reading's own unit, the texts in the other units are formatted the
//   way the meter shows them (four digits in uW and mW, two decimals in dBm).
// - Wavelength_nm as written.
// - Stored (1 or 0), when the file has that column: 1 makes a stored reading
//   with No as its record number. Without it (files of earlier versions) a No
//   other than the row's position makes a stored reading with that number.
// The file is read in pieces; nothing of it is kept but the readings.
namespace csv {

struct ReadResult
{
    bool ok = false;
    bool cancelled = false; // progress said stop
    QString errorMessage;   // what is wrong and where, for people
    ReadingStore readings;
};

// Called before each piece is read with the bytes read so far and the file's
// size; returning false stops the reading (no readings are handed on).
using Progress = std::function<bool(qint64 done, qint64 total)>;

// pieceBytes: how much of the file is read at a time.
ReadResult readReadings(const QString &path, qint64 pieceBytes = 1 << 20,
                        const Progress &progress = Progress());

} // namespace csv
