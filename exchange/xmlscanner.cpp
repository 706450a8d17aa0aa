#include "xmlscanner.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kChunk = 256 * 1024;
constexpr size_t kMaxDepth = 256;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view localPart(std::string_view qualified)
{
    const size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

void appendUtf8(std::string *out, char32_t code)
{
    if (code < 0x80) {
        out->push_back(char(code));
    } else if (code < 0x800) {
        out->push_back(char(0xC0 | (code >> 6)));
        out->push_back(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(char(0xE0 | (code >> 12)));
        out->push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(char(0x80 | (code & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (code >> 18)));
        out->push_back(char(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(char(0x80 | (code & 0x3F)));
    }
}

// The character of an entity's name ("amp", "#x41"), or 0.
char32_t entityCharacter(std::string_view name)
{
    if (name == "lt")
        return '<';
    if (name == "gt")
        return '>';
    if (name == "amp")
        return '&';
    if (name == "quot")
        return '"';
    if (name == "apos")
        return '\'';
    if (name.size() < 2 || name[0] != '#')
        return 0;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8)
        return 0;
    char32_t code = 0;
    for (char c : digits) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return 0;
        code = code * (hex ? 16 : 10) + char32_t(v);
        if (code > 0x10FFFF)
            return 0;
    }
    if (code >= 0xD800 && code <= 0xDFFF)
        return 0;
    return code;
}

} // namespace

XmlScanner::XmlScanner(Source source, qint64 maxToken)
    : m_source(std::move(source)), m_maxToken(std::max<qint64>(maxToken, 64))
{
}

bool XmlScanner::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

bool XmlScanner::refill()
{
    if (m_eof || !m_error.isEmpty())
        return false;
    const size_t kept = m_end - m_pos;
    if (qint64(kept) > m_maxToken)
        return fail(QStringLiteral("an XML token is longer than %1 MB").arg(m_maxToken >> 20));
    if (m_pos > 0) {
        std::memmove(&m_buf[0], m_buf.data() + m_pos, kept);
        m_pos = 0;
        m_end = kept;
    }
    if (m_buf.size() < m_end + kChunk)
        m_buf.resize(m_end + kChunk);
    const qint64 n = m_source(&m_buf[m_end], qint64(kChunk));
    if (n < 0)
        return fail(QStringLiteral("the part cannot be read"));
    if (n == 0) {
        m_eof = true;
        return false;
    }
    m_end += size_t(n);
    return true;
}

bool XmlScanner::ensure(size_t n)
{
    while (m_end - m_pos < n) {
        if (!refill())
            return false;
    }
    return true;
}

size_t XmlScanner::find(char ch, size_t from)
{
    for (;;) {
        const void *hit =
            from < m_end ? std::memchr(m_buf.data() + from, ch, m_end - from) : nullptr;
        if (hit)
            return size_t(static_cast<const char *>(hit) - m_buf.data());
        const size_t offset = std::max(from, m_end) - m_pos;
        if (!refill())
            return std::string::npos;
        from = m_pos + offset;
    }
}

size_t XmlScanner::find(std::string_view s, size_t from)
{
    for (;;) {
        const size_t at = find(s[0], from);
        if (at == std::string::npos)
            return at;
        const size_t offset = at - m_pos;
        if (!ensure(offset + s.size()))
            return std::string::npos;
        if (std::string_view(m_buf.data() + m_pos + offset, s.size()) == s)
            return m_pos + offset;
        from = m_pos + offset + 1;
    }
}

XmlScanner::Token XmlScanner::next()
{
    if (!m_error.isEmpty())
        return Failed;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_name = localPart(m_closedName);
        m_rootClosed = m_openStarts.empty();
        return EndElement;
    }
    if (!m_started) {
        m_started = true;
        if (ensure(2) && ((m_buf[0] == '\xFF' && m_buf[1] == '\xFE') ||
                          (m_buf[0] == '\xFE' && m_buf[1] == '\xFF'))) {
            fail(QStringLiteral("the part is UTF-16, which no workbook writer uses"));
            return Failed;
        }
        if (ensure(3) && m_buf.compare(0, 3, "\xEF\xBB\xBF") == 0)
            m_pos = 3;
    }
    for (;;) {
        if (m_pos >= m_end && !ensure(1)) {
            if (!m_error.isEmpty())
                return Failed;
            if (!m_rootClosed) {
                fail(m_openStarts.empty()
                         ? QStringLiteral("the part holds no XML element")
                         : QStringLiteral("the part ends inside <%1>")
                               .arg(QString::fromUtf8(openName().data(), int(openName().size()))));
                return Failed;
            }
            return End;
        }
        if (m_buf[m_pos] != '<') {
            const size_t lt = find('<', m_pos);
            if (!m_error.isEmpty())
                return Failed;
            const size_t stop = lt == std::string::npos ? m_end : lt;
            m_text = std::string_view(m_buf.data() + m_pos, stop - m_pos);
            m_pos = stop;
            m_cdata = false;
            if (m_openStarts.empty()) {
                if (!std::all_of(m_text.begin(), m_text.end(), isSpace)) {
                    fail(QStringLiteral("the part holds text outside its root element"));
                    return Failed;
                }
                continue;
            }
            return Text;
        }
        if (!ensure(2)) {
            fail(QStringLiteral("the part ends inside a tag"));
            return Failed;
        }
        const char second = m_buf[m_pos + 1];
        if (second == '?') {
            const size_t end = find("?>", m_pos + 2);
            if (end == std::string::npos) {
                fail(QStringLiteral("the part ends inside a processing instruction"));
                return Failed;
            }
            m_pos = end + 2;
            continue;
        }
        if (second == '!') {
            if (ensure(4) && m_buf.compare(m_pos, 4, "<!--") == 0) {
                const size_t end = find("-->", m_pos + 4);
                if (end == std::string::npos) {
                    fail(QStringLiteral("the part ends inside a comment"));
                    return Failed;
                }
                m_pos = end + 3;
                continue;
            }
            if (ensure(9) && m_buf.compare(m_pos, 9, "<![CDATA[") == 0 && !m_openStarts.empty()) {
                const size_t end = find("]]>", m_pos + 9);
                if (end == std::string::npos) {
                    fail(QStringLiteral("the part ends inside a CDATA section"));
                    return Failed;
                }
                m_text = std::string_view(m_buf.data() + m_pos + 9, end - m_pos - 9);
                m_pos = end + 3;
                m_cdata = true;
                return Text;
            }
            if (ensure(9) && m_buf.compare(m_pos, 9, "<!DOCTYPE") == 0) {
                fail(QStringLiteral("the part has a document type declaration, whose entities "
                                    "could expand without bound; no workbook writer makes one"));
                return Failed;
            }
            fail(QStringLiteral("the part holds markup that is not XML"));
            return Failed;
        }
        return second == '/' ? endTag() : startTag();
    }
}

XmlScanner::Token XmlScanner::startTag()
{
    // The tag runs to the first '>' outside quotes: attribute values may hold '>'.
    size_t j = m_pos + 1;
    char quote = 0;
    for (;; ++j) {
        if (j >= m_end) {
            const size_t offset = j - m_pos;
            if (!refill()) {
                fail(QStringLiteral("the part ends inside a tag"));
                return Failed;
            }
            j = m_pos + offset;
        }
        const char ch = m_buf[j];
        if (quote) {
            if (ch == quote)
                quote = 0;
        } else if (ch == '"' || ch == '\'') {
            quote = ch;
        } else if (ch == '>') {
            break;
        } else if (ch == '<') {
            fail(QStringLiteral("the part has a '<' inside a tag"));
            return Failed;
        }
    }
    std::string_view tag(m_buf.data() + m_pos + 1, j - m_pos - 1);
    m_pos = j + 1;
    const bool empty = !tag.empty() && tag.back() == '/';
    if (empty)
        tag.remove_suffix(1);
    size_t nameEnd = 0;
    while (nameEnd < tag.size() && !isSpace(tag[nameEnd]))
        ++nameEnd;
    const std::string_view qualified = tag.substr(0, nameEnd);
    if (qualified.empty()) {
        fail(QStringLiteral("the part has a tag without a name"));
        return Failed;
    }
    if (m_rootClosed) {
        fail(QStringLiteral("the part has more than one root element"));
        return Failed;
    }
    if (m_openStarts.size() >= kMaxDepth) {
        fail(QStringLiteral("the part's elements nest deeper than %1").arg(kMaxDepth));
        return Failed;
    }
    m_attributes = tag.substr(nameEnd);
    m_name = localPart(qualified);
    if (empty) {
        m_pendingEnd = true;
        m_closedName.assign(qualified);
    } else {
        m_openStarts.push_back(m_openNames.size());
        m_openNames.append(qualified);
    }
    return StartElement;
}

XmlScanner::Token XmlScanner::endTag()
{
    const size_t end = find('>', m_pos + 2);
    if (end == std::string::npos) {
        fail(QStringLiteral("the part ends inside a tag"));
        return Failed;
    }
    std::string_view qualified(m_buf.data() + m_pos + 2, end - m_pos - 2);
    while (!qualified.empty() && isSpace(qualified.back()))
        qualified.remove_suffix(1);
    m_pos = end + 1;
    if (m_openStarts.empty() || openName() != qualified) {
        fail(QStringLiteral("the part's tags do not match (</%1>)")
                 .arg(QString::fromUtf8(qualified.data(),
                                        int(std::min<size_t>(qualified.size(), 64)))));
        return Failed;
    }
    m_closedName.assign(qualified);
    m_openNames.resize(m_openStarts.back());
    m_openStarts.pop_back();
    m_name = localPart(m_closedName);
    m_rootClosed = m_openStarts.empty();
    return EndElement;
}

bool XmlScanner::attribute(std::string_view localName, std::string_view *value) const
{
    const std::string_view a = m_attributes;
    size_t i = 0;
    while (i < a.size()) {
        while (i < a.size() && isSpace(a[i]))
            ++i;
        const size_t nameStart = i;
        while (i < a.size() && a[i] != '=' && !isSpace(a[i]))
            ++i;
        const std::string_view name = a.substr(nameStart, i - nameStart);
        while (i < a.size() && isSpace(a[i]))
            ++i;
        if (i >= a.size() || a[i] != '=')
            return false;
        ++i;
        while (i < a.size() && isSpace(a[i]))
            ++i;
        if (i >= a.size() || (a[i] != '"' && a[i] != '\''))
            return false;
        const char quote = a[i++];
        const size_t valueEnd = a.find(quote, i);
        if (valueEnd == std::string_view::npos)
            return false;
        if (localPart(name) == localName) {
            *value = a.substr(i, valueEnd - i);
            return true;
        }
        i = valueEnd + 1;
    }
    return false;
}

bool XmlScanner::appendText(std::string *out)
{
    if (!m_cdata)
        return appendDecoded(m_text, out);
    // Line ends read as line feeds, as in any XML text.
    for (size_t i = 0; i < m_text.size(); ++i) {
        if (m_text[i] != '\r')
            out->push_back(m_text[i]);
        else if (i + 1 >= m_text.size() || m_text[i + 1] != '\n')
            out->push_back('\n');
    }
    return true;
}

bool XmlScanner::appendDecoded(std::string_view raw, std::string *out)
{
    size_t i = 0;
    while (i < raw.size()) {
        size_t stop = i;
        while (stop < raw.size() && raw[stop] != '&' && raw[stop] != '\r')
            ++stop;
        out->append(raw.data() + i, stop - i);
        if (stop >= raw.size())
            break;
        if (raw[stop] == '\r') {
            if (stop + 1 >= raw.size() || raw[stop + 1] != '\n')
                out->push_back('\n');
            i = stop + 1;
            continue;
        }
        const size_t semicolon = raw.find(';', stop + 1);
        const std::string_view name = semicolon == std::string_view::npos || semicolon - stop > 12
                                          ? std::string_view()
                                          : raw.substr(stop + 1, semicolon - stop - 1);
        const char32_t code = entityCharacter(name);
        if (code == 0)
            return fail(QStringLiteral("the part refers to an entity that is not defined"));
        appendUtf8(out, code);
        i = semicolon + 1;
    }
    return true;
}

QString unescapeSheetText(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    auto hex = [](QChar c) {
        const ushort u = c.unicode();
        if (u >= '0' && u <= '9')
            return int(u - '0');
        if (u >= 'a' && u <= 'f')
            return int(u - 'a' + 10);
        if (u >= 'A' && u <= 'F')
            return int(u - 'A' + 10);
        return -1;
    };
    QString out;
    out.reserve(text.size());
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        if (text.at(i) == QLatin1Char('_') && i + 6 < n && text.at(i + 1) == QLatin1Char('x') &&
            text.at(i + 6) == QLatin1Char('_')) {
            const int a = hex(text.at(i + 2)), b = hex(text.at(i + 3)), c = hex(text.at(i + 4)),
                      d = hex(text.at(i + 5));
            if (a >= 0 && b >= 0 && c >= 0 && d >= 0) {
                out += QChar(ushort((a << 12) | (b << 8) | (c << 4) | d));
                i += 6;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}
