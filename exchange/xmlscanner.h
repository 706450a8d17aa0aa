#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A small pull scanner for the XML parts of an .xlsx workbook, read from a
// byte stream (UTF-8) a piece at a time. It is several times faster than a
// general parser on sheet data, and strict where a hostile file could make
// it costly:
//
// - no document type declarations at all (so no entity can expand), only
//   the five predefined entities and character references;
// - a token (a tag with its attributes, a text between tags) longer than
//   maxToken bytes stops the scan, so the scanner never holds more than that;
// - elements nest at most 256 deep, end tags must match their start tags,
//   and the document must end where its root element ends.
//
// Namespace prefixes are not resolved: names are compared by their local
// part ("x:row" is "row"), which is how the parts of every known writer
// read.
class XmlScanner
{
public:
    // Fills buffer with up to size bytes; 0 at the end, -1 on a failure
    // (the source keeps its own reason).
    using Source = std::function<qint64(char *buffer, qint64 size)>;

    enum Token
    {
        StartElement, // name(), attribute(); an empty element is followed by its EndElement
        EndElement,   // name()
        Text,         // appendText(); character data or a CDATA section
        End,          // the document is complete
        Failed,       // errorMessage()
    };

    static constexpr qint64 kDefaultMaxToken = 4 << 20;

    explicit XmlScanner(Source source, qint64 maxToken = kDefaultMaxToken);

    Token next();

    // The local name of the element (valid until the next call).
    std::string_view name() const { return m_name; }
    // The raw value of the current start tag's attribute with this local
    // name, entities not yet replaced; whether it was there.
    bool attribute(std::string_view localName, std::string_view *value) const;
    // Appends the current text (or a decoded attribute value) in UTF-8, with
    // the entities replaced; false (and the scan failed) on a bad entity.
    bool appendText(std::string *out);
    bool appendDecoded(std::string_view raw, std::string *out);

    int depth() const { return int(m_openStarts.size()); }
    QString errorMessage() const { return m_error; }
    bool fail(const QString &why);

private:
    // Makes at least n bytes from m_pos readable, reading on as needed;
    // false at the end of the data (or a failure).
    bool ensure(size_t n);
    // Position of ch at or after from (reading on as needed), or npos.
    size_t find(char ch, size_t from);
    size_t find(std::string_view s, size_t from);
    bool refill();
    Token startTag();
    Token endTag();

    Source m_source;
    qint64 m_maxToken;
    std::string m_buf;
    size_t m_pos = 0; // first unread byte
    size_t m_end = 0; // end of the bytes read
    bool m_eof = false;
    bool m_started = false;
    bool m_pendingEnd = false;
    bool m_rootClosed = false;
    bool m_cdata = false;
    std::string_view m_name;
    std::string_view m_attributes;
    std::string_view m_text;
    // The qualified names of the open elements, one after the other.
    std::string m_openNames;
    std::vector<size_t> m_openStarts;
    std::string m_closedName; // of the element just ended
    std::string_view openName() const
    {
        return std::string_view(m_openNames).substr(m_openStarts.back());
    }
    QString m_error;
};

// Replaces the "_xHHHH_" escapes of spreadsheet texts by their characters.
QString unescapeSheetText(const QString &text);
