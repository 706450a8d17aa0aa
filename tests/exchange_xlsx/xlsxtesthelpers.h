#pragma once

#include "tablesource.h"
#include "zipwriter.h"

#include <QDate>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QtTest>

// Reads a workbook with openpyxl (see openpyxl_dump.py); an empty object
// when openpyxl cannot read it.
inline QJsonObject openpyxlDump(const QString &path, bool summary = false)
{
    QProcess p;
    QStringList args{QStringLiteral(XLSX_TEST_SOURCE_DIR "/openpyxl_dump.py"), path};
    if (summary)
        args << QStringLiteral("--summary");
    // openpyxl comes from Debian: the system interpreter, not any other python3.
    p.start(QStringLiteral("/usr/bin/python3"), args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "openpyxl failed:" << p.readAllStandardError();
        return QJsonObject();
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// A zip archive of the given parts (name -> content).
inline bool writePackage(const QString &path, const QMap<QByteArray, QByteArray> &parts)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    ZipWriter zip(file);
    for (auto it = parts.cbegin(); it != parts.cend(); ++it) {
        if (!zip.addEntry(it.key(), it.value()))
            return false;
    }
    return zip.finish();
}

inline QByteArray sheetXml(const QByteArray &rows)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
           rows + "</sheetData></worksheet>";
}

// The parts of a workbook whose sheets are the given parts ("sheet1.xml" in
// xl/worksheets/), each sheet given by its XML; sheets may share a part.
inline QMap<QByteArray, QByteArray> workbookParts(const QList<QByteArray> &sheetParts,
                                                  const QMap<QByteArray, QByteArray> &sheets)
{
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QMap<QByteArray, QByteArray> parts;
    parts["_rels/.rels"] =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/officeDocument\" Target=\"xl/workbook.xml\"/>"
        "</Relationships>";
    QByteArray book =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"" +
        rel + "\"><sheets>";
    QByteArray rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (int s = 0; s < sheetParts.size(); ++s) {
        const QByteArray n = QByteArray::number(s + 1);
        book += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel +
                "/worksheet\" Target=\"worksheets/" + sheetParts.at(s) + "\"/>";
    }
    parts["xl/workbook.xml"] = book + "</sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
    for (auto it = sheets.cbegin(); it != sheets.cend(); ++it)
        parts["xl/worksheets/" + it.key()] = it.value();
    return parts;
}

// The header row and a row of a number in A (row numbers from 1).
inline QByteArray headerRow()
{
    QByteArray x = "<row r=\"1\">";
    const char *names[] = {"No.", "Time", "Value", "Unit", "WaveLength"};
    for (int c = 0; c < 5; ++c)
        x += QByteArray("<c r=\"") + char('A' + c) + "1\" t=\"inlineStr\"><is><t>" + names[c] +
             "</t></is></c>";
    return x + "</row>";
}

inline QByteArray numberRow(int row, double value)
{
    const QByteArray r = QByteArray::number(row);
    return "<row r=\"" + r + "\"><c r=\"A" + r + "\"><v>" + QByteArray::number(value, 'g', 17) +
           "</v></c></row>";
}

// Readings made up on the fly, one a second: any number of them costs no
// memory. The rows may be read from several threads.
class CountingSource : public TableSource
{
public:
    explicit CountingSource(int rows) : m_rows(rows) {}
    int rowCount() const override { return m_rows; }
    bool concurrentRows() const override { return true; }
    void row(int index, RowCells &out) const override
    {
        static const qint64 start = wallClockMsecs(QDate(2024, 1, 1), QTime(0, 0));
        out.cells[0].setNumber(index + 1);
        out.cells[1].setTime(start + qint64(index) * 1000, true);
        out.cells[2].setText(QString::number(index * 0.001, 'f', 3));
        out.cells[3].setText(QStringLiteral("mW"));
        out.cells[4].setText(index % 2 ? QStringLiteral("1550nm") : QStringLiteral("1310nm"));
    }

private:
    int m_rows;
};
