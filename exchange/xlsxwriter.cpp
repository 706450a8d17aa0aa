#include "xlsxwriter.h"

#include "readingtablesource.h"
#include "tablesource.h"
#include "zipwriter.h"

#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace xlsx {
namespace {

constexpr int kColumns = RowCells::kColumns;
// Excel refuses longer cell texts.
constexpr int kMaxTextLength = 32767;
// Rows formatted and deflated as one piece: a few megabytes of XML.
constexpr int kBlockRows = 16384;
// Deflate level of the sheets: level 1 makes files a fifth larger than the
// default level at a third of the time.
constexpr int kSheetLevel = 1;
// The <cols> element is written at this fixed size (padded with spaces), so
// that the fitted widths, known only at the end, are patched into place.
constexpr int kColsSize = 400;

const char kDateTimeFormat[] = "yyyy-mm-dd hh:mm:ss";
constexpr int kDateTimeWidth = int(sizeof(kDateTimeFormat)) - 1;

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char kMainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// Cell styles (indexes into cellXfs): A general, B date-time, C.. text "@".
const char *styleAttribute(int column)
{
    return column == 0 ? "" : (column == 1 ? " s=\"1\"" : " s=\"2\"");
}

// The same styles as the columns' default (<col style>).
const char *columnStyle(int column)
{
    return column == 0 ? "" : (column == 1 ? " style=\"1\"" : " style=\"2\"");
}

// Appends into a string through a pointer, growing it in large steps.
class Cursor
{
public:
    explicit Cursor(std::string &out) : m_out(out), m_used(out.size()) {}
    ~Cursor() { m_out.resize(m_used); }
    Cursor(const Cursor &) = delete;
    Cursor &operator=(const Cursor &) = delete;

    char *room(size_t n)
    {
        if (m_used + n > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_used + n + 65536));
        return &m_out[m_used];
    }
    void advance(char *end) { m_used = size_t(end - m_out.data()); }
    void put(const char *text, size_t n)
    {
        std::memcpy(room(n), text, n);
        m_used += n;
    }
    void put(const char *text) { put(text, std::strlen(text)); }

private:
    std::string &m_out;
    size_t m_used;
};

char *putLiteral(char *p, const char *text)
{
    const size_t n = std::strlen(text);
    std::memcpy(p, text, n);
    return p + n;
}

char *putInt(char *p, long long v)
{
    return std::to_chars(p, p + 24, v).ptr;
}

// The shortest text that reads back as the same double.
char *putDouble(char *p, double v)
{
    return std::to_chars(p, p + 32, v).ptr;
}

int shortestLength(double v)
{
    char buf[32];
    return int(std::to_chars(buf, buf + sizeof buf, v).ptr - buf);
}

bool isHexDigit(ushort c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char *putEscapedCode(char *p, uint code)
{
    static const char hex[] = "0123456789ABCDEF";
    p = putLiteral(p, "_x");
    for (int shift = 12; shift >= 0; shift -= 4)
        *p++ = hex[(code >> shift) & 0xF];
    *p++ = '_';
    return p;
}

// A cell text as XML character data in UTF-8. Characters XML cannot carry
// (control characters, U+FFFE, U+FFFF) and carriage returns, which XML
// turns into line feeds, are written as spreadsheets write them: "_xHHHH_";
// a text that itself holds such a sequence gets its "_" escaped ("_x005F_").
void putText(Cursor &out, const QString &text)
{
    const int n = std::min(int(text.size()), kMaxTextLength);
    const ushort *s = text.utf16();
    // Room for the worst case: every character escaped as seven bytes.
    char *p = out.room(size_t(n) * 7 + 16);
    for (int i = 0; i < n; ++i) {
        const ushort c = s[i];
        if (c < 0x80) {
            if (c >= 0x20 || c == '\t' || c == '\n') {
                if (c == '&')
                    p = putLiteral(p, "&amp;");
                else if (c == '<')
                    p = putLiteral(p, "&lt;");
                else if (c == '>')
                    p = putLiteral(p, "&gt;");
                else if (c == '_' && i + 6 < n && s[i + 1] == 'x' && isHexDigit(s[i + 2]) &&
                         isHexDigit(s[i + 3]) && isHexDigit(s[i + 4]) && isHexDigit(s[i + 5]) &&
                         s[i + 6] == '_')
                    p = putEscapedCode(p, '_');
                else
                    *p++ = char(c);
            } else {
                p = putEscapedCode(p, c);
            }
            continue;
        }
        uint code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            code = QChar::surrogateToUcs4(c, s[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            code = 0xFFFD; // half a pair is no character
        } else if (c == 0xFFFE || c == 0xFFFF) {
            p = putEscapedCode(p, c);
            continue;
        }
        if (code < 0x800) {
            *p++ = char(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            *p++ = char(0xE0 | (code >> 12));
            *p++ = char(0x80 | ((code >> 6) & 0x3F));
        } else {
            *p++ = char(0xF0 | (code >> 18));
            *p++ = char(0x80 | ((code >> 12) & 0x3F));
            *p++ = char(0x80 | ((code >> 6) & 0x3F));
        }
        *p++ = char(0x80 | (code & 0x3F));
    }
    out.advance(p);
}

bool needsSpacePreserved(const QString &text)
{
    auto space = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
               c == QLatin1Char('\r');
    };
    return !text.isEmpty() && (space(text.front()) || space(text.back()));
}

// Widths in characters, fitted to what the columns hold.
using Widths = std::array<int, kColumns>;

void fit(Widths &widths, int column, int chars)
{
    if (chars > widths[size_t(column)])
        widths[size_t(column)] = chars;
}

// Formats rows of one sheet as <row> elements.
class RowFormatter
{
public:
    RowFormatter(std::string &out, Widths &widths) : m_out(out), m_widths(widths) {}

    void headerRow(const QStringList &headers)
    {
        RowCells cells;
        for (int c = 0; c < kColumns && c < headers.size(); ++c)
            cells.cells[size_t(c)].setText(headers.at(c));
        row(1, cells, true);
    }

    // sheetRow counts from 1.
    void row(int sheetRow, const RowCells &cells, bool header = false)
    {
        char *p = m_out.room(32);
        p = putLiteral(p, "<row r=\"");
        p = putInt(p, sheetRow);
        p = putLiteral(p, "\">");
        m_out.advance(p);
        for (int c = 0; c < kColumns; ++c) {
            const TableCell &cell = cells.cells[size_t(c)];
            const char *style = header ? "" : styleAttribute(c);
            switch (cell.kind) {
            case TableCell::Empty:
                break;
            case TableCell::Time:
                if (wallClockInSheetRange(cell.wallMsecs)) {
                    number(sheetRow, c, style, wallClockSerialDays(cell.wallMsecs));
                    fit(m_widths, c, kDateTimeWidth);
                } else {
                    text(sheetRow, c, style, cell.displayText());
                }
                break;
            case TableCell::Number:
                if (std::isfinite(cell.number)) {
                    number(sheetRow, c, style, cell.number);
                    fit(m_widths, c, shortestLength(cell.number));
                } else {
                    text(sheetRow, c, style, cell.displayText());
                }
                break;
            case TableCell::Text:
                text(sheetRow, c, style, cell.text);
                break;
            }
        }
        m_out.put("</row>", 6);
    }

private:
    char *cellStart(int sheetRow, int column, const char *style)
    {
        char *p = m_out.room(96);
        p = putLiteral(p, "<c r=\"");
        *p++ = char('A' + column);
        p = putInt(p, sheetRow);
        *p++ = '"';
        return putLiteral(p, style);
    }

    void number(int sheetRow, int column, const char *style, double v)
    {
        char *p = cellStart(sheetRow, column, style);
        p = putLiteral(p, "><v>");
        p = putDouble(p, v);
        p = putLiteral(p, "</v></c>");
        m_out.advance(p);
    }

    void text(int sheetRow, int column, const char *style, const QString &t)
    {
        // An empty text is no cell, as an empty cell reads back.
        if (t.isEmpty())
            return;
        fit(m_widths, column, std::min(int(t.size()), kMaxTextLength));
        char *p = cellStart(sheetRow, column, style);
        p = putLiteral(p, needsSpacePreserved(t) ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                                 : " t=\"inlineStr\"><is><t>");
        m_out.advance(p);
        putText(m_out, t);
        m_out.put("</t></is></c>");
    }

    Cursor m_out;
    Widths &m_widths;
};

// One block of rows of one sheet, formatted and deflated.
struct Block
{
    int sheet = 0;
    int first = 0; // table rows first..end-1
    int end = 0;
    bool header = false; // the block starts its sheet with the header row
    QByteArray deflated;
    quint32 crc = 0;
    qint64 size = 0; // of the XML
    Widths widths{};
};

void makeBlock(const TableSource &source, const QStringList &headers, Block &block)
{
    std::string xml;
    {
        RowFormatter rows(xml, block.widths);
        if (block.header)
            rows.headerRow(headers);
        RowCells cells;
        const int sheetFirst = block.sheet * kDataRowsPerSheet;
        for (int r = block.first; r < block.end; ++r) {
            source.row(r, cells);
            rows.row(r - sheetFirst + 2, cells);
        }
    }
    block.size = qint64(xml.size());
    block.crc = zipdeflate::crc32Of(xml.data(), block.size);
    block.deflated = zipdeflate::deflatePiece(xml.data(), block.size, kSheetLevel, false);
}

QByteArray colsElement(const Widths &widths)
{
    QByteArray cols("<cols>");
    for (int c = 0; c < kColumns; ++c) {
        // Room for the cell margins, as the .xls export leaves it.
        const int width = std::min(255, widths[size_t(c)] + 2);
        cols += QByteArray("<col min=\"") + QByteArray::number(c + 1) + "\" max=\"" +
                QByteArray::number(c + 1) + "\" width=\"" + QByteArray::number(width) +
                "\" customWidth=\"1\"" + columnStyle(c) + "/>";
    }
    cols += "</cols>";
    // Whitespace between elements is no content.
    return cols.leftJustified(kColsSize, ' ');
}

// What precedes a sheet's rows: everything up to <sheetData>.
QByteArray sheetStart(int sheet, int rows, const Widths &widths)
{
    QByteArray x(kXmlDeclaration);
    x += QByteArray("<worksheet xmlns=\"") + kMainNs + "\" xmlns:r=\"" + kRelNs + "\">";
    x += "<dimension ref=\"A1:E" + QByteArray::number(rows) + "\"/>";
    x += QByteArray("<sheetViews><sheetView workbookViewId=\"0\"") +
         (sheet == 0 ? " tabSelected=\"1\"" : "") + "/></sheetViews>";
    x += "<sheetFormatPr defaultRowHeight=\"12.8\"/>";
    x += colsElement(widths);
    x += "<sheetData>";
    return x;
}

const char kSheetEnd[] = "</sheetData><pageMargins left=\"0.75\" right=\"0.75\" top=\"1\" "
                         "bottom=\"1\" header=\"0.5\" footer=\"0.5\"/></worksheet>";

QByteArray contentTypes(int sheets)
{
    QByteArray x(kXmlDeclaration);
    x += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/"
         "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
         "<Override PartName=\"/xl/styles.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    for (int s = 1; s <= sheets; ++s)
        x += "<Override PartName=\"/xl/worksheets/sheet" + QByteArray::number(s) +
             ".xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    x += "</Types>";
    return x;
}

QByteArray packageRelationships()
{
    return QByteArray(kXmlDeclaration) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
}

QByteArray workbook(int sheets)
{
    QByteArray x(kXmlDeclaration);
    x += QByteArray("<workbook xmlns=\"") + kMainNs + "\" xmlns:r=\"" + kRelNs + "\">";
    x += "<workbookPr date1904=\"false\"/><bookViews><workbookView activeTab=\"0\"/></bookViews>"
         "<sheets>";
    for (int s = 1; s <= sheets; ++s)
        x += "<sheet name=\"Sheet" + QByteArray::number(s) + "\" sheetId=\"" +
             QByteArray::number(s) + "\" r:id=\"rId" + QByteArray::number(s) + "\"/>";
    x += "</sheets></workbook>";
    return x;
}

QByteArray workbookRelationships(int sheets)
{
    QByteArray x(kXmlDeclaration);
    x += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (int s = 1; s <= sheets; ++s)
        x += "<Relationship Id=\"rId" + QByteArray::number(s) +
             "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "worksheet\" Target=\"worksheets/sheet" +
             QByteArray::number(s) + ".xml\"/>";
    x += "<Relationship Id=\"rId" + QByteArray::number(sheets + 1) +
         "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
         "Target=\"styles.xml\"/></Relationships>";
    return x;
}

QByteArray styles()
{
    QByteArray x(kXmlDeclaration);
    x += QByteArray("<styleSheet xmlns=\"") + kMainNs + "\">";
    x += QByteArray("<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"") +
         kDateTimeFormat + "\"/></numFmts>";
    x += "<fonts count=\"1\"><font><sz val=\"10\"/><name val=\"Arial\"/><family val=\"2\"/></font>"
         "</fonts>"
         "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
         "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
         "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
         "</borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
         "</cellStyleXfs>"
         "<cellXfs count=\"3\">"
         "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>"
         "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>"
         "</cellXfs>"
         "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
         "</cellStyles></styleSheet>";
    return x;
}

// Where a sheet's start was written and the CRCs of what followed it, to
// patch the fitted widths in at the end.
struct SheetEntry
{
    int entry = 0;
    qint64 startAt = 0; // of the start's bytes (inside its stored block)
    int rows = 0;       // header included
    quint32 restCrc = 0;
    qint64 restSize = 0;
};

class WorkbookWriter
{
public:
    WorkbookWriter(const QStringList &headers, const TableSource &source, ZipWriter &zip)
        : m_headers(headers), m_source(source), m_zip(zip)
    {
    }

    bool write()
    {
        const int rows = std::max(0, m_source.rowCount());
        const int sheets = std::max(1, (rows + kDataRowsPerSheet - 1) / kDataRowsPerSheet);
        if (!m_zip.addEntry("[Content_Types].xml", contentTypes(sheets)) ||
            !m_zip.addEntry("_rels/.rels", packageRelationships()) ||
            !m_zip.addEntry("xl/workbook.xml", workbook(sheets)) ||
            !m_zip.addEntry("xl/_rels/workbook.xml.rels", workbookRelationships(sheets)) ||
            !m_zip.addEntry("xl/styles.xml", styles()))
            return false;

        std::vector<Block> blocks;
        for (int s = 0; s < sheets; ++s) {
            const int first = s * kDataRowsPerSheet;
            const int end = std::min(rows, first + kDataRowsPerSheet);
            for (int b = first; b < end || b == first; b += kBlockRows) {
                Block block;
                block.sheet = s;
                block.first = b;
                block.end = std::min(end, b + kBlockRows);
                block.header = b == first;
                blocks.push_back(block);
            }
        }
        if (!writeBlocks(blocks, rows))
            return false;
        return patchWidths() && m_zip.finish();
    }

private:
    // Blocks are formatted and deflated on a few threads, a round ahead,
    // while this one writes the last round in order.
    bool writeBlocks(std::vector<Block> &blocks, int rows)
    {
        const bool parallel = m_source.concurrentRows();
        const int perRound = parallel ? std::clamp(QThread::idealThreadCount(), 1, 8) : 1;
        const int count = int(blocks.size());
        auto startRound = [&](int round) {
            std::vector<std::future<void>> jobs;
            for (int k = 0; k < perRound; ++k) {
                const int i = round * perRound + k;
                if (i >= count)
                    break;
                Block *block = &blocks[size_t(i)];
                // With no thread to be had (or allowed) the block is made when waited for.
                const auto policy =
                    parallel ? std::launch::async | std::launch::deferred : std::launch::deferred;
                jobs.push_back(
                    std::async(policy, [this, block] { makeBlock(m_source, m_headers, *block); }));
            }
            return jobs;
        };
        std::vector<std::future<void>> jobs = startRound(0);
        bool ok = true;
        for (int round = 0; round * perRound < count; ++round) {
            for (std::future<void> &job : jobs)
                job.wait();
            std::vector<std::future<void>> next = startRound(round + 1);
            for (int k = 0; k < perRound && ok; ++k) {
                const int i = round * perRound + k;
                if (i >= count)
                    break;
                ok = writeBlock(blocks[size_t(i)], rows,
                                i + 1 == count ||
                                    blocks[size_t(i) + 1].sheet != blocks[size_t(i)].sheet);
                blocks[size_t(i)].deflated.clear();
            }
            jobs = std::move(next);
            if (!ok)
                break;
        }
        for (std::future<void> &job : jobs)
            job.wait();
        return ok;
    }

    bool writeBlock(const Block &block, int rows, bool lastOfSheet)
    {
        for (int c = 0; c < kColumns; ++c)
            fit(m_widths, c, block.widths[size_t(c)]);
        if (block.header) {
            const int first = block.sheet * kDataRowsPerSheet;
            SheetEntry sheet;
            sheet.rows = 1 + std::max(0, std::min(kDataRowsPerSheet, rows - first));
            if (!m_zip.beginEntry("xl/worksheets/sheet" + QByteArray::number(block.sheet + 1) +
                                  ".xml"))
                return false;
            // The start goes in a stored block of its own, so that its bytes
            // can be overwritten once the widths are known.
            const QByteArray start = sheetStart(block.sheet, sheet.rows, m_widths);
            sheet.startAt = m_zip.position() + 5;
            m_startSize = start.size();
            if (!m_zip.writeData(zipdeflate::storedBlock(start, false)))
                return false;
            m_sheets.push_back(sheet);
        }
        SheetEntry &sheet = m_sheets.back();
        if (!m_zip.writeData(block.deflated.constData(), block.deflated.size()))
            return false;
        sheet.restCrc = zipdeflate::crc32Combine(sheet.restCrc, block.crc, block.size);
        sheet.restSize += block.size;
        if (!lastOfSheet)
            return true;
        const QByteArray end(kSheetEnd);
        sheet.restCrc = zipdeflate::crc32Combine(
            sheet.restCrc, zipdeflate::crc32Of(end.constData(), end.size()), end.size());
        sheet.restSize += end.size();
        if (!m_zip.writeData(zipdeflate::storedBlock(end, true)))
            return false;
        // The CRC is set again once the start holds the widths.
        const bool ended = m_zip.endEntry(0, quint64(m_startSize + sheet.restSize));
        sheet.entry = m_zip.lastEntry();
        return ended;
    }

    bool patchWidths()
    {
        for (int s = 0; s < int(m_sheets.size()); ++s) {
            const SheetEntry &sheet = m_sheets[size_t(s)];
            const QByteArray start = sheetStart(s, sheet.rows, m_widths);
            const quint32 crc =
                zipdeflate::crc32Combine(zipdeflate::crc32Of(start.constData(), start.size()),
                                         sheet.restCrc, sheet.restSize);
            if (!m_zip.patch(sheet.startAt, start) || !m_zip.setEntryCrc(sheet.entry, crc))
                return false;
        }
        return true;
    }

    const QStringList &m_headers;
    const TableSource &m_source;
    ZipWriter &m_zip;
    Widths m_widths{};
    std::vector<SheetEntry> m_sheets;
    qint64 m_startSize = 0;
};

} // namespace

bool writeTable(const QString &path, const QStringList &headers, const TableSource &source,
                QString *errorMessage)
{
    auto fail = [errorMessage](const QString &why) {
        if (errorMessage)
            *errorMessage = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    ZipWriter zip(file);
    if (!WorkbookWriter(headers, source, zip).write()) {
        file.cancelWriting();
        return fail(zip.errorString().isEmpty() ? QStringLiteral("cannot write the workbook")
                                                : zip.errorString());
    }
    if (!file.commit())
        return fail(file.errorString());
    if (errorMessage)
        errorMessage->clear();
    return true;
}

bool writeReadings(const QString &path, const DataModel &table, QString *errorMessage)
{
    return writeTable(path, readingTableHeaders(), ReadingTableSource(table), errorMessage);
}

} // namespace xlsx
