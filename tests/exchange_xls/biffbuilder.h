#pragma once

// Hand-made workbooks for the reader's tests: record by record, so that a
// test can hold cell kinds, number formats and BIFF versions our own writer
// never produces. Every file a test builds is also read by xlrd.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtEndian>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstring>

class BiffBuilder
{
public:
    explicit BiffBuilder(int version = 8) : m_version(version) {}

    // A custom number format; returns its index.
    quint16 addFormat(const QString &text)
    {
        m_formats.append(text);
        return quint16(163 + m_formats.size());
    }
    // A cell format showing numbers in number format `format`; returns its index.
    quint16 addXf(quint16 format)
    {
        m_xfs.append(format);
        return quint16(m_xfs.size() - 1);
    }
    quint32 addShared(const QString &text)
    {
        m_sst.append(text);
        return quint32(m_sst.size() - 1);
    }
    void addSheet(const QString &name) { m_sheets.append({name, QByteArray(), 0, 0}); }
    void setDate1904(bool on) { m_date1904 = on; }

    void number(int row, int col, quint16 xf, double v)
    {
        QByteArray b = cellHead(row, col, xf);
        b += f64(v);
        cell(0x0203, b, row, col);
    }
    void rk(int row, int col, quint16 xf, qint32 integer)
    {
        cell(0x027E, cellHead(row, col, xf) + u32(quint32(integer) << 2 | 0x2), row, col);
    }
    void labelSst(int row, int col, quint16 xf, quint32 index)
    {
        cell(0x00FD, cellHead(row, col, xf) + u32(index), row, col);
    }
    void label(int row, int col, quint16 xf, const QString &text)
    {
        QByteArray b = cellHead(row, col, xf);
        if (m_version == 8) {
            b += unicodeString(text);
        } else {
            b += u16(quint16(text.size()));
            b += text.toLatin1();
        }
        cell(0x0204, b, row, col);
    }
    void boolErr(int row, int col, quint16 xf, quint8 value, bool error)
    {
        QByteArray b = cellHead(row, col, xf);
        b += char(value);
        b += char(error ? 1 : 0);
        cell(0x0205, b, row, col);
    }
    // A formula (=1) with the cached number v.
    void formulaNumber(int row, int col, quint16 xf, double v) { formula(row, col, xf, f64(v)); }
    // A formula (=1) with a cached text, held in the STRING record behind it.
    void formulaText(int row, int col, quint16 xf, const QString &text)
    {
        formula(row, col, xf, specialResult(0, 0));
        m_sheets.last().cells += record(0x0207, unicodeString(text));
    }
    void formulaBool(int row, int col, quint16 xf, bool v)
    {
        formula(row, col, xf, specialResult(1, v ? 1 : 0));
    }
    void formulaError(int row, int col, quint16 xf, quint8 code)
    {
        formula(row, col, xf, specialResult(2, code));
    }

    QByteArray stream() const
    {
        // Globals first; BOUNDSHEET records carry sheet positions, known once
        // the globals' length is.
        QByteArray globals = bof(0x0005);
        if (m_version == 5)
            globals += record(0x0042, u16(0x04E4)); // CODEPAGE windows-1252
        else
            globals += record(0x0042, u16(0x04B0)); // CODEPAGE UTF-16
        globals += record(0x0022, u16(m_date1904 ? 1 : 0));
        for (int i = 0; i < 5; ++i)
            globals += font();
        for (int i = 0; i < m_formats.size(); ++i) {
            QByteArray b = u16(quint16(164 + i));
            b += m_version == 8
                     ? unicodeString(m_formats.at(i))
                     : QByteArray(1, char(m_formats.at(i).size())) + m_formats.at(i).toLatin1();
            globals += record(0x041E, b);
        }
        // Readers take XF 15 for cells that are not there: at least 16 of them.
        QVector<quint16> xfs = m_xfs;
        while (xfs.size() < 16)
            xfs.append(0);
        for (quint16 format : xfs) {
            QByteArray b = u16(0) + u16(format);
            b += QByteArray(m_version == 8 ? 16 : 12, '\0');
            globals += record(0x00E0, b);
        }
        if (m_version == 8 && !m_sst.isEmpty()) {
            QByteArray b = u32(quint32(m_sst.size())) + u32(quint32(m_sst.size()));
            for (const QString &s : m_sst)
                b += unicodeString(s);
            globals += record(0x00FC, b);
        }
        QVector<int> patch;
        for (const Sheet &s : m_sheets) {
            patch.append(globals.size() + 4);
            QByteArray b = u32(0) + QByteArray(2, '\0');
            if (m_version == 8) {
                b += char(s.name.size());
                b += char(0);
            } else {
                b += char(s.name.size());
            }
            b += s.name.toLatin1();
            globals += record(0x0085, b);
        }
        globals += record(0x000A, QByteArray());

        QByteArray out = globals;
        for (int i = 0; i < m_sheets.size(); ++i) {
            const quint32 at = quint32(out.size());
            qToLittleEndian(at, reinterpret_cast<uchar *>(out.data() + patch.at(i)));
            const Sheet &s = m_sheets.at(i);
            out += bof(0x0010);
            if (m_version == 8)
                out += record(0x0200, u32(0) + u32(quint32(s.rows)) + u16(0) +
                                          u16(quint16(s.cols)) + u16(0));
            else
                out += record(0x0200, u16(0) + u16(quint16(s.rows)) + u16(0) +
                                          u16(quint16(s.cols)) + u16(0));
            out += s.cells;
            out += record(0x000A, QByteArray());
        }
        return out;
    }

    // Writes the stream into a compound file as LibreOffice and Excel do.
    bool write(const QString &path) const { return writeCompoundFile(path, stream(), m_version); }

    static bool writeCompoundFile(const QString &path, const QByteArray &stream, int version = 8)
    {
        gsf_init();
        GsfOutput *file = gsf_output_stdio_new(QFile::encodeName(path).constData(), nullptr);
        if (!file)
            return false;
        GsfOutfile *ole = gsf_outfile_msole_new(file);
        GsfOutput *child = gsf_outfile_new_child(ole, version == 8 ? "Workbook" : "Book", FALSE);
        const bool ok = gsf_output_write(child, size_t(stream.size()),
                                         reinterpret_cast<const guint8 *>(stream.constData())) &&
                        gsf_output_close(child);
        g_object_unref(child);
        const bool closed = gsf_output_close(GSF_OUTPUT(ole));
        g_object_unref(ole);
        g_object_unref(file);
        return ok && closed;
    }

    static QByteArray record(quint16 id, const QByteArray &body)
    {
        return u16(id) + u16(quint16(body.size())) + body;
    }
    static QByteArray u16(quint16 v)
    {
        QByteArray b(2, '\0');
        qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
        return b;
    }
    static QByteArray u32(quint32 v)
    {
        QByteArray b(4, '\0');
        qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
        return b;
    }
    static QByteArray f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        QByteArray b(8, '\0');
        qToLittleEndian(bits, reinterpret_cast<uchar *>(b.data()));
        return b;
    }
    // 16-bit count, then Latin-1 or UTF-16 characters.
    static QByteArray unicodeString(const QString &s)
    {
        bool latin1 = true;
        for (QChar c : s)
            latin1 = latin1 && c.unicode() < 0x100;
        QByteArray b = u16(quint16(s.size()));
        b += char(latin1 ? 0 : 1);
        if (latin1) {
            b += s.toLatin1();
        } else {
            for (QChar c : s)
                b += u16(c.unicode());
        }
        return b;
    }

private:
    struct Sheet
    {
        QString name;
        QByteArray cells;
        int rows;
        int cols;
    };

    QByteArray bof(quint16 type) const
    {
        QByteArray b =
            u16(m_version == 8 ? 0x0600 : 0x0500) + u16(type) + u16(0x0DBB) + u16(0x07CC);
        if (m_version == 8)
            b += u32(0) + u32(0x0006);
        return record(0x0809, b);
    }
    QByteArray font() const
    {
        QByteArray b = u16(200) + u16(0) + u16(0x7FFF) + u16(400) + u16(0) + QByteArray(4, '\0');
        b += char(5);
        if (m_version == 8)
            b += char(0);
        b += "Arial";
        return record(0x0031, b);
    }
    static QByteArray cellHead(int row, int col, quint16 xf)
    {
        return u16(quint16(row)) + u16(quint16(col)) + u16(xf);
    }
    void cell(quint16 id, const QByteArray &body, int row, int col)
    {
        Sheet &s = m_sheets.last();
        s.cells += record(id, body);
        s.rows = qMax(s.rows, row + 1);
        s.cols = qMax(s.cols, col + 1);
    }
    // A cached result that is no number: kind, value, 0xFFFF in the last two bytes.
    static QByteArray specialResult(quint8 kind, quint8 value)
    {
        QByteArray r(8, '\0');
        r[0] = char(kind);
        r[2] = char(value);
        r[6] = char(0xFF);
        r[7] = char(0xFF);
        return r;
    }
    void formula(int row, int col, quint16 xf, const QByteArray &result)
    {
        // Tokens: ptgInt 1.
        QByteArray b = cellHead(row, col, xf) + result + u16(0) + u32(0) + u16(3);
        b += char(0x1E);
        b += u16(1);
        cell(0x0006, b, row, col);
    }

    int m_version;
    bool m_date1904 = false;
    QStringList m_formats;
    QVector<quint16> m_xfs;
    QStringList m_sst;
    QVector<Sheet> m_sheets;
};
