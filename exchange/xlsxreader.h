#pragma once

#include "xlsreader.h"

// Reader of Excel workbooks (.xlsx, Office Open XML) as LibreOffice,
// Gnumeric, Excel and our own export write them.
//
// The table is read by the rules of xls::readTable: sheet 1 without its
// first row, five cells a row, further sheets only behind a full one
// (1,048,576 rows) under the same header. Cell values come out as the .xls
// reader gives them: numbers in date formats (and ISO 8601 date cells) as
// QDateTime, shared, inline and formula texts as QString (with the "_xHHHH_"
// escapes of spreadsheet texts undone), other numbers as their shortest
// decimal text, booleans as "1" or "0", errors as their text ("#N/A").
//
// The archive is read a part at a time and each part streamed through a
// small XML scanner: memory holds the shared strings and a few megabytes,
// whatever the sheets hold. A hostile file is refused with a reason and
// costs bounded time and memory: parts that unpack to more than 100 times
// the file's size (zip bombs), parts that overlap or that two sheets share,
// document type declarations (entity expansion), tokens of more than a few
// megabytes, a sheet that spans all 16,384 columns, missing parts.
namespace xlsx {

// Streams the table of the workbook at path to sink, row by row.
// progress(bytes unpacked, bytes of all parts) is asked between batches of
// rows; false stops the reading (ReadStatus::Cancelled).
xls::ReadSummary readTable(const QString &path, const xls::RowSink &sink,
                           const xls::ReadProgress &progress = xls::ReadProgress());

// The whole table at once, on top of readTable.
xls::ReadResult readRows(const QString &path);

} // namespace xlsx
