#pragma once

#include <QString>

#include <functional>
#include <limits>

class DataModel;
class QIODevice;

// Writer of the reading CSV files: UTF-8, comma-separated, RFC 4180 quoting,
// CRLF line ends, one header row
//
//   No,Time,MeterTime,Power_uW,Power_mW,Power_dBm,Unit,Display,Wavelength_nm,Loss_dB,Verdict,
//   Stored
//
// and one row per table row: the table's number, both times in ISO 8601 with
// milliseconds and UTC offset (empty when null), the three powers as the
// shortest numbers that read back exactly (empty for over- and under-range
// readings), the unit, the meter's text in its own unit, the wavelength, the
// loss and verdict the caller derives (empty when there are none), and 1 for
// a reading from the meter's memory, 0 for a live one. Unit and display texts
// a spreadsheet would run as formulas are written behind an apostrophe
// (csvtext.h).
namespace csv {

extern const char kHeader[];

// The derived columns of the reading at a store index. The writer formats
// rows on several threads: the function is called from them at once and must
// only read.
struct Derived
{
    double lossDB = std::numeric_limits<double>::quiet_NaN(); // NaN: no loss
    const char *verdict = "";                                 // "LOW", "PASS", "HIGH" or ""
};
using DerivedColumns = std::function<Derived(int index)>;

// Writes the rows the table shows (its store, in its row order) to an open
// device, streamed in pieces of about a megabyte. False with a reason when a
// write fails.
bool writeReadings(QIODevice &device, const DataModel &table, const DerivedColumns &derived,
                   QString *errorMessage = nullptr);
// The same to a file, written beside the target and renamed into place only
// when complete, so a failure never leaves a partial file nor harms an
// existing one.
bool writeReadings(const QString &path, const DataModel &table, const DerivedColumns &derived,
                   QString *errorMessage = nullptr);

} // namespace csv
