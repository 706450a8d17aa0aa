#include "xlsxreader.h"

#include "biffworkbook.h"
#include "tablerules.h"
#include "xlsxwriter.h"
#include "xmlscanner.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <zip.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace xlsx {
namespace {

using xls::ReadResult;
using xls::ReadStatus;
using xls::ReadSummary;

constexpr int kCells = 5;
// The last row (from 0) and the number of columns a sheet has.
constexpr quint32 kLastSheetRow = kSheetRows - 1;
constexpr quint32 kSheetColumns = 16384;
using TableRules = xls::SheetTableRules<kLastSheetRow>;

// Everything read is unpacked from at most this many times the file's
// size, plus a little for small files: well-formed workbooks pack by a
// factor of 5 to 20, zip bombs by up to a thousand.
constexpr qint64 kInflateRatio = 100;
constexpr qint64 kInflateAllowance = 8 << 20;
// Rows with a value cost at least this many bytes of the file each (the
// most regular sheets pack to three or more), beyond a first allowance.
constexpr qint64 kMinPackedBytesPerRow = 2;
constexpr qint64 kRowAllowance = 65536;
// Bytes of the shared strings held (beside a 32-bit offset each).
constexpr qint64 kMaxSharedBytes = qint64(1) << 30;

// The zip archive, read a part at a time within one budget of unpacked bytes.
class Package
{
public:
    ~Package()
    {
        closePart();
        if (m_zip)
            zip_discard(m_zip);
    }

    bool open(const QString &path)
    {
        m_fileSize = QFileInfo(path).size();
        m_budget = kInflateAllowance + kInflateRatio * m_fileSize;
        int code = 0;
        // The consistency check compares every local header with the
        // central directory, so that no entry hides behind another.
        m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (m_zip) {
            // What all parts unpack to, as they claim: the measure of progress.
            const zip_int64_t entries = zip_get_num_entries(m_zip, 0);
            for (zip_int64_t i = 0; i < entries && m_claimed < m_budget; ++i) {
                zip_stat_t stat;
                zip_stat_init(&stat);
                if (zip_stat_index(m_zip, zip_uint64_t(i), 0, &stat) == 0 &&
                    (stat.valid & ZIP_STAT_SIZE))
                    m_claimed += qint64(std::min<zip_uint64_t>(stat.size, zip_uint64_t(m_budget)));
            }
            m_claimed = std::min(m_claimed, m_budget);
            return true;
        }
        if (code == ZIP_ER_NOZIP)
            return fail(QStringLiteral("the file is no zip archive, so no .xlsx workbook"));
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        fail(QStringLiteral("the file is no readable zip archive (%1)")
                 .arg(QString::fromLocal8Bit(zip_error_strerror(&error))));
        zip_error_fini(&error);
        return false;
    }

    bool has(const QString &part) const { return locate(part) >= 0; }
    // Bytes unpacked so far, and what all parts claim to unpack to.
    qint64 inflated() const { return m_inflated; }
    qint64 claimed() const { return m_claimed; }

    // Opens a part for reading; refuses a part read before when once is set.
    bool openPart(const QString &part, bool once = false)
    {
        closePart();
        const zip_int64_t index = locate(part);
        if (index < 0)
            return fail(QStringLiteral("the workbook has no part %1").arg(part));
        if (once) {
            if (m_sheetParts.contains(index))
                return fail(QStringLiteral("two sheets share the part %1").arg(part));
            m_sheetParts.insert(index);
        }
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(m_zip, zip_uint64_t(index), 0, &stat) != 0)
            return fail(QStringLiteral("the part %1 cannot be read").arg(part));
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return fail(QStringLiteral("the part %1 is encrypted").arg(part));
        if (stat.valid & ZIP_STAT_COMP_SIZE) {
            // Parts that share their packed bytes each unpack to the same
            // sheet: together they claim more bytes than the file has.
            m_packed += qint64(stat.comp_size);
            if (m_packed > m_fileSize)
                return fail(QStringLiteral("parts of the archive overlap"));
        }
        m_file = zip_fopen_index(m_zip, zip_uint64_t(index), 0);
        if (!m_file)
            return fail(QStringLiteral("the part %1 cannot be read (%2)")
                            .arg(part, QString::fromLocal8Bit(zip_strerror(m_zip))));
        m_part = part;
        return true;
    }

    void closePart()
    {
        if (m_file)
            zip_fclose(m_file);
        m_file = nullptr;
    }

    // The XML scanner's source: the open part, unpacked.
    qint64 read(char *buffer, qint64 size)
    {
        if (!m_file)
            return -1;
        const zip_int64_t n = zip_fread(m_file, buffer, zip_uint64_t(size));
        if (n < 0) {
            fail(QStringLiteral("the part %1 is damaged (%2)")
                     .arg(m_part, QString::fromLocal8Bit(zip_file_strerror(m_file))));
            return -1;
        }
        m_inflated += n;
        if (m_inflated > m_budget) {
            fail(QStringLiteral("the file unpacks to more than %1 times its size, as a zip bomb "
                                "does")
                     .arg(kInflateRatio));
            return -1;
        }
        return n;
    }

    bool fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
        return false;
    }
    QString error() const { return m_error; }
    qint64 fileSize() const { return m_fileSize; }

private:
    zip_int64_t locate(const QString &part) const
    {
        // Part names compare without regard to case.
        return zip_name_locate(m_zip, part.toUtf8().constData(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
    }

    zip_t *m_zip = nullptr;
    zip_file_t *m_file = nullptr;
    QString m_part;
    qint64 m_fileSize = 0;
    qint64 m_budget = 0;
    qint64 m_inflated = 0;
    qint64 m_claimed = 0;
    qint64 m_packed = 0;
    QSet<zip_int64_t> m_sheetParts;
    QString m_error;
};

// Scans the package's open part; the package's reason wins over the
// scanner's when a read failed.
class PartScanner : public XmlScanner
{
public:
    explicit PartScanner(Package &package)
        : XmlScanner([&package](char *b, qint64 n) { return package.read(b, n); }),
          m_package(package)
    {
    }
    QString error() const
    {
        return m_package.error().isEmpty() ? errorMessage() : m_package.error();
    }

    // Skips the rest of the element just started.
    bool skipElement()
    {
        for (int depth = 1; depth > 0;) {
            switch (next()) {
            case StartElement:
                ++depth;
                break;
            case EndElement:
                --depth;
                break;
            case Text:
                break;
            default:
                return false;
            }
        }
        return true;
    }

    QString attributeText(std::string_view name)
    {
        std::string_view raw;
        if (!attribute(name, &raw))
            return QString();
        std::string decoded;
        appendDecoded(raw, &decoded);
        return QString::fromStdString(decoded);
    }

private:
    Package &m_package;
};

bool parseUnsigned(std::string_view text, quint64 *value)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool parseDouble(const std::string &text, double *value)
{
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t' || text[a] == '\n'))
        ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\n'))
        --b;
    if (a < b && text[a] == '+')
        ++a;
    const auto r = std::from_chars(text.data() + a, text.data() + b, *value);
    return a < b && r.ec == std::errc() && r.ptr == text.data() + b;
}

// The folder of a part ("xl/" of "xl/workbook.xml") and a relationship's
// target resolved against it.
QString resolveTarget(const QString &sourcePart, const QString &target)
{
    QStringList segments;
    if (!target.startsWith(QLatin1Char('/'))) {
        segments = sourcePart.split(QLatin1Char('/'));
        segments.removeLast();
    }
    for (const QString &s : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (s == QLatin1String("..")) {
            if (!segments.isEmpty())
                segments.removeLast();
        } else if (s != QLatin1String(".")) {
            segments.append(s);
        }
    }
    return segments.join(QLatin1Char('/'));
}

QString relationshipsOf(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
           QStringLiteral(".rels");
}

struct Relationship
{
    QString type; // the last segment of its type URI: "worksheet", "styles" ...
    QString target;
};

struct SheetEntry
{
    QString part;
    bool worksheet = false; // a chart sheet or dialog sheet holds no cells
};

// The shared strings as they are in the part (UTF-8, escapes undone), one
// after the other: about what the part itself takes.
struct SharedStrings
{
    std::string bytes;
    std::vector<quint32> starts{0};
    qint64 count() const { return qint64(starts.size()) - 1; }
    QString at(qint64 i) const
    {
        const quint32 start = starts[size_t(i)];
        return QString::fromUtf8(bytes.data() + start, int(starts[size_t(i) + 1] - start));
    }
};

class WorkbookReader
{
public:
    bool open(const QString &path)
    {
        if (!m_package.open(path))
            return false;
        QString workbook;
        QHash<QString, Relationship> root;
        if (!readRelationships(QString(), &root))
            return false;
        for (const Relationship &r : qAsConst(root)) {
            if (r.type == QLatin1String("officeDocument"))
                workbook = r.target;
        }
        if (workbook.isEmpty())
            return m_package.fail(QStringLiteral("the package names no workbook"));
        QHash<QString, Relationship> parts;
        if (!readRelationships(workbook, &parts) || !readWorkbook(workbook, parts))
            return false;
        for (const Relationship &r : qAsConst(parts)) {
            if (r.type == QLatin1String("styles") && !readStyles(r.target))
                return false;
            if (r.type == QLatin1String("sharedStrings") && !readSharedStrings(r.target))
                return false;
        }
        return true;
    }

    const QVector<SheetEntry> &sheets() const { return m_sheets; }
    QString error() const { return m_package.error(); }
    qint64 inflated() const { return m_package.inflated(); }
    qint64 claimed() const { return m_package.claimed(); }

    // Hands each row of the sheet with cells in A..E to rows, in order.
    bool readSheet(int sheet, const xls::BiffReader::RowFn &rows);

private:
    bool scanFailed(PartScanner &x) { return m_package.fail(x.error()); }

    bool readRelationships(const QString &part, QHash<QString, Relationship> *out)
    {
        const QString relsPart =
            part.isEmpty() ? QStringLiteral("_rels/.rels") : relationshipsOf(part);
        if (!m_package.openPart(relsPart))
            return false;
        PartScanner x(m_package);
        for (;;) {
            switch (x.next()) {
            case XmlScanner::StartElement:
                if (x.name() == "Relationship" &&
                    x.attributeText("TargetMode") != QLatin1String("External")) {
                    const QString type = x.attributeText("Type");
                    out->insert(x.attributeText("Id"),
                                {type.mid(type.lastIndexOf(QLatin1Char('/')) + 1),
                                 resolveTarget(part, x.attributeText("Target"))});
                }
                break;
            case XmlScanner::End:
                return true;
            case XmlScanner::Failed:
                return scanFailed(x);
            default:
                break;
            }
        }
    }

    bool readWorkbook(const QString &part, const QHash<QString, Relationship> &rels)
    {
        if (!m_package.openPart(part))
            return false;
        PartScanner x(m_package);
        for (;;) {
            switch (x.next()) {
            case XmlScanner::StartElement:
                if (x.name() == "workbookPr") {
                    const QString v = x.attributeText("date1904");
                    m_date1904 = v == QLatin1String("1") || v == QLatin1String("true");
                } else if (x.name() == "sheet") {
                    const auto r = rels.constFind(x.attributeText("id"));
                    if (r == rels.constEnd())
                        return m_package.fail(QStringLiteral("the sheet \"%1\" has no part")
                                                  .arg(x.attributeText("name")));
                    m_sheets.append({r->target, r->type == QLatin1String("worksheet")});
                }
                break;
            case XmlScanner::End:
                if (m_sheets.isEmpty())
                    return m_package.fail(QStringLiteral("the workbook has no sheet"));
                return true;
            case XmlScanner::Failed:
                return scanFailed(x);
            default:
                break;
            }
        }
    }

    bool readStyles(const QString &part)
    {
        if (!m_package.openPart(part))
            return false;
        PartScanner x(m_package);
        QHash<quint64, bool> customDate;
        bool inCellXfs = false;
        for (;;) {
            switch (x.next()) {
            case XmlScanner::StartElement:
                if (x.name() == "numFmt") {
                    quint64 id = 0;
                    std::string_view raw;
                    if (x.attribute("numFmtId", &raw) && parseUnsigned(raw, &id))
                        customDate.insert(id, xls::isDateFormat(x.attributeText("formatCode")));
                } else if (x.name() == "cellXfs") {
                    inCellXfs = true;
                } else if (x.name() == "xf" && inCellXfs) {
                    quint64 id = 0;
                    std::string_view raw;
                    bool date = false;
                    if (x.attribute("numFmtId", &raw) && parseUnsigned(raw, &id))
                        date = customDate.contains(id) ? customDate.value(id) : builtInDate(id);
                    m_dateStyles.push_back(date);
                }
                break;
            case XmlScanner::EndElement:
                if (x.name() == "cellXfs")
                    inCellXfs = false;
                break;
            case XmlScanner::End:
                return true;
            case XmlScanner::Failed:
                return scanFailed(x);
            default:
                break;
            }
        }
    }

    static bool builtInDate(quint64 id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

    bool readSharedStrings(const QString &part)
    {
        if (!m_package.openPart(part))
            return false;
        PartScanner x(m_package);
        std::string text;
        int phonetic = 0; // inside <rPh>: readings of East Asian text, not the text
        bool inText = false;
        for (;;) {
            switch (x.next()) {
            case XmlScanner::StartElement:
                if (x.name() == "si")
                    text.clear();
                else if (x.name() == "rPh")
                    ++phonetic;
                else if (x.name() == "t")
                    inText = phonetic == 0;
                break;
            case XmlScanner::EndElement:
                if (x.name() == "rPh") {
                    --phonetic;
                } else if (x.name() == "t") {
                    inText = false;
                } else if (x.name() == "si") {
                    const QByteArray s = unescapeSheetText(QString::fromStdString(text)).toUtf8();
                    if (qint64(m_shared.bytes.size()) + s.size() > kMaxSharedBytes)
                        return m_package.fail(
                            QStringLiteral("the shared strings take more than %1 MB")
                                .arg(kMaxSharedBytes >> 20));
                    m_shared.bytes.append(s.constData(), size_t(s.size()));
                    m_shared.starts.push_back(quint32(m_shared.bytes.size()));
                }
                break;
            case XmlScanner::Text:
                if (inText && !x.appendText(&text))
                    return scanFailed(x);
                break;
            case XmlScanner::End:
                return true;
            case XmlScanner::Failed:
                return scanFailed(x);
            }
        }
    }

    enum class CellType
    {
        Number,
        Shared,
        Inline,
        FormulaText,
        Boolean,
        Error,
        IsoDate,
    };

    static CellType cellType(std::string_view t)
    {
        if (t == "s")
            return CellType::Shared;
        if (t == "inlineStr")
            return CellType::Inline;
        if (t == "str")
            return CellType::FormulaText;
        if (t == "b")
            return CellType::Boolean;
        if (t == "e")
            return CellType::Error;
        if (t == "d")
            return CellType::IsoDate;
        return CellType::Number;
    }

    static QVariant textValue(const std::string &text)
    {
        if (text.empty())
            return QVariant();
        return unescapeSheetText(QString::fromStdString(text));
    }

    bool cellValue(CellType type, quint64 style, const std::string &text, QVariant *out)
    {
        switch (type) {
        case CellType::Number: {
            double v = 0;
            if (!parseDouble(text, &v)) {
                *out = textValue(text);
                return true;
            }
            if (style < m_dateStyles.size() && m_dateStyles[size_t(style)]) {
                const QDateTime dt = xls::serialDateTime(v, m_date1904);
                if (dt.isValid()) {
                    *out = dt;
                    return true;
                }
            }
            *out = xls::numberText(v);
            return true;
        }
        case CellType::Shared: {
            quint64 i = 0;
            if (text.empty()) {
                *out = QVariant();
                return true;
            }
            if (!parseUnsigned(text, &i) || qint64(i) >= m_shared.count())
                return m_package.fail(
                    QStringLiteral("a cell refers to a shared string that is not there"));
            const QString s = m_shared.at(qint64(i));
            *out = s.isEmpty() ? QVariant() : QVariant(s);
            return true;
        }
        case CellType::Inline:
        case CellType::FormulaText:
        case CellType::Error:
            *out = textValue(text);
            return true;
        case CellType::Boolean:
            *out = text == "1" || text == "true" ? QStringLiteral("1") : QStringLiteral("0");
            return true;
        case CellType::IsoDate: {
            const QString s = QString::fromStdString(text).trimmed();
            const QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
            *out = dt.isValid() ? QVariant(dt) : textValue(text);
            return true;
        }
        }
        return true;
    }

    Package m_package;
    QVector<SheetEntry> m_sheets;
    std::vector<bool> m_dateStyles; // by cell style
    SharedStrings m_shared;
    bool m_date1904 = false;
    qint64 m_rows = 0; // of all sheets
};

// "BC12": column 54 (from 0); row 11 (from 0) when it has one, else -1.
bool parseCellReference(std::string_view ref, quint64 *column, qint64 *row)
{
    size_t i = 0;
    quint64 col = 0;
    while (i < ref.size() && i < 4) {
        const char c = ref[i];
        if (c >= 'A' && c <= 'Z')
            col = col * 26 + quint64(c - 'A' + 1);
        else if (c >= 'a' && c <= 'z')
            col = col * 26 + quint64(c - 'a' + 1);
        else
            break;
        ++i;
    }
    if (col == 0)
        return false;
    *column = col - 1;
    quint64 r = 0;
    *row = i < ref.size() && parseUnsigned(ref.substr(i), &r) && r > 0 ? qint64(r - 1) : -1;
    return true;
}

bool WorkbookReader::readSheet(int sheet, const xls::BiffReader::RowFn &rows)
{
    if (!m_package.openPart(m_sheets.at(sheet).part, true))
        return false;
    PartScanner x(m_package);
    QVariantList cells;
    for (int c = 0; c < kCells; ++c)
        cells.append(QVariant());
    bool any = false;
    bool inRow = false;
    qint64 row = -1;
    qint64 column = -1;
    std::string text;
    std::string_view raw;
    for (;;) {
        const XmlScanner::Token token = x.next();
        if (token == XmlScanner::End)
            return true;
        if (token == XmlScanner::Failed)
            return scanFailed(x);
        if (token == XmlScanner::EndElement) {
            if (x.name() == "row" && inRow) {
                inRow = false;
                if (any) {
                    // Every row costs a few packed bytes at the least, even
                    // in the most regular sheet; more rows than that can
                    // only come from a crafted file.
                    if (++m_rows > m_package.fileSize() / kMinPackedBytesPerRow + kRowAllowance)
                        return m_package.fail(
                            QStringLiteral("the workbook holds more rows than its size allows"));
                    if (!rows(quint32(row), cells))
                        return true;
                }
            } else if (x.name() == "sheetData") {
                return true; // nothing after the rows is of the table
            }
            continue;
        }
        if (token != XmlScanner::StartElement)
            continue;
        const std::string_view name = x.name();
        if (name == "row") {
            quint64 r = 0;
            qint64 next = row + 1;
            if (x.attribute("r", &raw)) {
                if (!parseUnsigned(raw, &r) || r == 0 || r > kSheetRows)
                    return m_package.fail(QStringLiteral("a row number is out of range"));
                next = qint64(r - 1);
            }
            if (next <= row)
                return m_package.fail(QStringLiteral("the rows of a sheet are out of order"));
            if (next > qint64(kLastSheetRow))
                return m_package.fail(QStringLiteral("a sheet holds more rows than a sheet has"));
            row = next;
            column = -1;
            any = false;
            for (QVariant &v : cells)
                v = QVariant();
            inRow = true;
            continue;
        }
        if (name != "c" || !inRow) {
            if (name != "sheetData" && name != "worksheet" && !x.skipElement())
                return scanFailed(x);
            continue;
        }
        // A cell: where it is, its type and style, then its value.
        quint64 col = quint64(column + 1);
        if (x.attribute("r", &raw)) {
            qint64 refRow = -1;
            if (!parseCellReference(raw, &col, &refRow) || (refRow >= 0 && refRow != row))
                return m_package.fail(QStringLiteral("a cell's reference is not in its row"));
        }
        if (col + 1 >= kSheetColumns)
            return m_package.fail(
                QStringLiteral("the sheet spans all %1 columns; a table of readings has five")
                    .arg(kSheetColumns));
        column = qint64(col);
        const CellType type = x.attribute("t", &raw) ? cellType(raw) : CellType::Number;
        quint64 style = 0;
        if (x.attribute("s", &raw) && !parseUnsigned(raw, &style))
            style = 0;
        text.clear();
        // Inside the cell: <v> holds the value, <is> an inline text (its
        // <t> runs without their phonetic readings), <f> a formula.
        bool inValue = false;
        int phonetic = 0;
        int inlineText = 0;
        for (int depth = 1; depth > 0;) {
            switch (x.next()) {
            case XmlScanner::StartElement:
                ++depth;
                if (x.name() == "v" && depth == 2 && type != CellType::Inline)
                    inValue = true;
                else if (x.name() == "rPh")
                    ++phonetic;
                else if (x.name() == "t" && type == CellType::Inline && phonetic == 0)
                    ++inlineText;
                break;
            case XmlScanner::EndElement:
                --depth;
                if (x.name() == "v")
                    inValue = false;
                else if (x.name() == "rPh")
                    --phonetic;
                else if (x.name() == "t" && inlineText > 0)
                    --inlineText;
                break;
            case XmlScanner::Text:
                if ((inValue || inlineText > 0) && col < quint64(kCells) && !x.appendText(&text))
                    return scanFailed(x);
                break;
            case XmlScanner::End:
            case XmlScanner::Failed:
                return scanFailed(x);
            }
        }
        if (col < quint64(kCells)) {
            QVariant &cell = cells[int(col)];
            if (!cellValue(type, style, text, &cell))
                return false;
            any = any || cell.isValid();
        }
    }
}

ReadSummary failure(ReadStatus status, const QString &why, qint64 rows = 0)
{
    ReadSummary r;
    r.status = status;
    r.errorMessage = why;
    r.rows = rows;
    return r;
}

// Rows handed from the reading thread to the caller's, in batches; at most
// a few batches wait, so the reader never runs far ahead.
class RowQueue
{
public:
    void push(const QVariantList &row)
    {
        m_filling.push_back(row);
        if (m_filling.size() >= kBatchRows)
            pass();
    }
    // No more rows will come.
    void close()
    {
        pass();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }
    // The next batch; false once the rows have ended.
    bool pop(std::vector<QVariantList> *batch)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full.empty() || m_closed; });
        if (m_full.empty())
            return false;
        *batch = std::move(m_full.front());
        m_full.pop_front();
        m_changed.notify_all();
        return true;
    }

private:
    static constexpr size_t kBatchRows = 4096;
    static constexpr size_t kBatchesWaiting = 4;

    void pass()
    {
        if (m_filling.empty())
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_full.size() < kBatchesWaiting; });
        m_full.push_back(std::move(m_filling));
        m_filling.clear();
        m_changed.notify_all();
    }

    std::vector<QVariantList> m_filling; // the reading thread's own
    std::deque<std::vector<QVariantList>> m_full;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
};

// How far the reading thread is, and whether it is to stop, for the thread
// that hands the rows on.
struct ReadProbe
{
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> stop{false};
};

ReadSummary readTableHere(const QString &path, const xls::RowSink &sink, ReadProbe *probe = nullptr)
{
    if (!QFileInfo(path).isFile())
        return failure(ReadStatus::OpenFailed, QStringLiteral("no such file"));
    WorkbookReader book;
    if (!book.open(path))
        return failure(ReadStatus::OpenFailed, book.error());
    if (!book.sheets().first().worksheet)
        return failure(ReadStatus::OpenFailed, QStringLiteral("the first sheet holds no table"));

    if (probe)
        probe->total = book.claimed();
    TableRules table(sink);
    for (int s = 0; s < book.sheets().size() && book.sheets().at(s).worksheet; ++s) {
        bool more = false;
        auto walk = [&](const xls::BiffReader::RowFn &rows) {
            if (!probe)
                return book.readSheet(s, rows);
            return book.readSheet(s, [&](quint32 row, const QVariantList &cells) {
                probe->done = book.inflated();
                return !probe->stop && rows(row, cells);
            });
        };
        if (probe && probe->stop)
            break;
        if (!table.readSheet(s, walk, &more))
            return failure(table.rows() > 0 ? ReadStatus::ReadFailed : ReadStatus::OpenFailed,
                           book.error(), table.rows());
        if (!more)
            break;
    }
    ReadSummary r;
    r.status = ReadStatus::Ok;
    r.rows = table.rows();
    return r;
}

} // namespace

ReadSummary readTable(const QString &path, const xls::RowSink &sink,
                      const xls::ReadProgress &progress)
{
    // Unpacking and scanning the sheets take most of an import: they run on
    // a thread of their own while this one hands the rows to sink (which
    // then needs no locking of its own).
    RowQueue queue;
    ReadProbe probe;
    std::future<ReadSummary> reading;
    try {
        reading = std::async(std::launch::async, [&] {
            const ReadSummary r = readTableHere(
                path, [&queue](const QVariantList &row) { queue.push(row); }, &probe);
            queue.close();
            return r;
        });
    } catch (const std::system_error &) {
        return readTableHere(path, sink); // no thread to be had
    }
    std::vector<QVariantList> batch;
    bool cancelled = false;
    while (queue.pop(&batch)) {
        // Once stopped, what the reader still hands over is let go.
        if (cancelled)
            continue;
        for (const QVariantList &row : batch)
            sink(row);
        if (progress && !progress(probe.done, probe.total)) {
            cancelled = true;
            probe.stop = true;
        }
    }
    ReadSummary r = reading.get();
    if (cancelled && r.status == ReadStatus::Ok)
        r.status = ReadStatus::Cancelled;
    return r;
}

ReadResult readRows(const QString &path)
{
    ReadResult result;
    const ReadSummary summary =
        readTable(path, [&result](const QVariantList &cells) { result.rows.append(cells); });
    result.status = summary.status;
    result.errorMessage = summary.errorMessage;
    return result;
}

} // namespace xlsx
