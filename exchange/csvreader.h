#pragma once

#include "readingstore.h"

#include <QString>

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
// - Unit and Display as written; Display is the text in the reading's own
//   unit, the texts in the other units are formatted the way the meter shows
//   them (four digits in uW and mW, two decimals in dBm).
// - Wavelength_nm as written.
// - No: a number other than the row's position makes a stored reading with
//   that record number, as the table numbers them.
// The file is read in pieces; nothing of it is kept but the readings.
namespace csv {

struct ReadResult
{
    bool ok = false;
    QString errorMessage; // what is wrong and where, for people
    ReadingStore readings;
};

// pieceBytes: how much of the file is read at a time.
ReadResult readReadings(const QString &path, qint64 pieceBytes = 1 << 20);

} // namespace csv
