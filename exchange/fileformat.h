#pragma once

#include "xlsreader.h"

#include <QString>

// Which of the program's file formats a file name names, by its suffix, for
// everything that picks a reader or writer by name (the window's import, a
// command line's --import and --export).
namespace exchange {

enum class FileFormat
{
    Unknown,
    Xls,  // classic Excel workbook
    Xlsx, // Excel workbook (Office Open XML)
    Csv,
    Pdf,
    Jpg,
};

// The format of the file name's suffix, without regard to case.
FileFormat fileFormatOf(const QString &fileName);
// The suffix of a format ("xlsx"), empty for Unknown.
QString suffixOf(FileFormat format);

// Streams the table of a workbook to sink: .xlsx files through the .xlsx
// reader, any other name through the .xls reader (as the import always did).
// progress, as for xls::readTable, may stop the reading (ReadStatus::Cancelled).
xls::ReadSummary readWorkbookTable(const QString &path, const xls::RowSink &sink,
                                   const xls::ReadProgress &progress = xls::ReadProgress());

} // namespace exchange
