#include "fileformat.h"

#include "xlsxreader.h"

#include <QFileInfo>

namespace exchange {

FileFormat fileFormatOf(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (FileFormat f :
         {FileFormat::Xls, FileFormat::Xlsx, FileFormat::Csv, FileFormat::Pdf, FileFormat::Jpg}) {
        if (suffix == suffixOf(f))
            return f;
    }
    return suffix == QLatin1String("jpeg") ? FileFormat::Jpg : FileFormat::Unknown;
}

QString suffixOf(FileFormat format)
{
    switch (format) {
    case FileFormat::Xls:
        return QStringLiteral("xls");
    case FileFormat::Xlsx:
        return QStringLiteral("xlsx");
    case FileFormat::Csv:
        return QStringLiteral("csv");
    case FileFormat::Pdf:
        return QStringLiteral("pdf");
    case FileFormat::Jpg:
        return QStringLiteral("jpg");
    case FileFormat::Unknown:
        break;
    }
    return QString();
}

xls::ReadSummary readWorkbookTable(const QString &path, const xls::RowSink &sink,
                                   const xls::ReadProgress &progress)
{
    if (fileFormatOf(path) == FileFormat::Xlsx)
        return xlsx::readTable(path, sink, progress);
    return xls::readTable(path, sink, progress);
}

} // namespace exchange
