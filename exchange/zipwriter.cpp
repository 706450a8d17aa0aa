#include "zipwriter.h"

#include <QDateTime>
#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfCentralDirectory = 0x06054b50;
constexpr quint32 kZip64EndOfCentralDirectory = 0x06064b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr quint16 kDeflated = 8;
constexpr quint16 kVersion = 20;      // deflate
constexpr quint16 kVersionZip64 = 45; // Zip64 records
constexpr quint32 kMax32 = 0xFFFFFFFFu;
// Byte offsets of fields in the local header.
constexpr int kLocalCrcAt = 14;
constexpr int kLocalHeaderSize = 30;

class Bytes
{
public:
    void u16(quint16 v) { append(v); }
    void u32(quint32 v) { append(v); }
    void u64(quint64 v) { append(v); }
    void raw(const QByteArray &b) { m_bytes.append(b); }
    const QByteArray &bytes() const { return m_bytes; }

private:
    template <typename T> void append(T v)
    {
        char b[sizeof(T)];
        qToLittleEndian(v, b);
        m_bytes.append(b, int(sizeof(T)));
    }
    QByteArray m_bytes;
};

} // namespace

ZipWriter::ZipWriter(QIODevice &device) : m_device(device)
{
    // Every entry carries the time of writing, in MS-DOS form (two-second steps).
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    m_dosDate =
        quint16(((std::clamp(d.year(), 1980, 2107) - 1980) << 9) | (d.month() << 5) | d.day());
    m_dosTime = quint16((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
}

bool ZipWriter::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

bool ZipWriter::writeData(const char *data, qint64 size)
{
    if (!m_error.isEmpty())
        return false;
    if (m_device.write(data, size) != size)
        return fail(m_device.errorString());
    m_pos += size;
    return true;
}

bool ZipWriter::addEntry(const QByteArray &name, const QByteArray &data)
{
    const QByteArray deflated = zipdeflate::deflatePiece(data.constData(), data.size(), 6, true);
    return beginEntry(name) && writeData(deflated) &&
           endEntry(zipdeflate::crc32Of(data.constData(), data.size()), quint64(data.size()));
}

bool ZipWriter::beginEntry(const QByteArray &name)
{
    Entry entry;
    entry.name = name;
    entry.offset = quint64(m_pos);
    m_entries.append(entry);
    Bytes h;
    h.u32(kLocalHeader);
    h.u16(kVersion);
    h.u16(0); // no flags: sizes and CRC are filled in below
    h.u16(kDeflated);
    h.u16(m_dosTime);
    h.u16(m_dosDate);
    h.u32(0); // CRC
    h.u32(0); // compressed size
    h.u32(0); // size
    h.u16(quint16(name.size()));
    h.u16(0); // no extra field
    h.raw(name);
    return writeData(h.bytes());
}

bool ZipWriter::endEntry(quint32 crc, quint64 uncompressedSize)
{
    if (m_entries.isEmpty())
        return fail(QStringLiteral("no entry begun"));
    Entry &entry = m_entries.last();
    entry.compressedSize =
        quint64(m_pos) - entry.offset - kLocalHeaderSize - quint64(entry.name.size());
    entry.size = uncompressedSize;
    if (entry.compressedSize >= kMax32 || entry.size >= kMax32)
        return fail(QStringLiteral("a part of the workbook would be larger than 4 GiB"));
    return setEntryCrc(m_entries.size() - 1, crc);
}

bool ZipWriter::setEntryCrc(int index, quint32 crc)
{
    Entry &entry = m_entries[index];
    entry.crc = crc;
    Bytes b;
    b.u32(crc);
    b.u32(quint32(entry.compressedSize));
    b.u32(quint32(entry.size));
    return patch(qint64(entry.offset) + kLocalCrcAt, b.bytes());
}

bool ZipWriter::patch(qint64 at, const QByteArray &bytes)
{
    if (!m_error.isEmpty())
        return false;
    if (!m_device.seek(at) || m_device.write(bytes) != bytes.size() || !m_device.seek(m_pos))
        return fail(m_device.errorString());
    return true;
}

bool ZipWriter::finish()
{
    const quint64 directoryStart = quint64(m_pos);
    for (const Entry &entry : qAsConst(m_entries)) {
        const bool far = entry.offset >= kMax32;
        Bytes h;
        h.u32(kCentralHeader);
        h.u16(quint16((3 << 8) | kVersionZip64)); // made on Unix
        h.u16(far ? kVersionZip64 : kVersion);
        h.u16(0);
        h.u16(kDeflated);
        h.u16(m_dosTime);
        h.u16(m_dosDate);
        h.u32(entry.crc);
        h.u32(quint32(entry.compressedSize));
        h.u32(quint32(entry.size));
        h.u16(quint16(entry.name.size()));
        h.u16(far ? 12 : 0);   // Zip64 extra field: the header's offset
        h.u16(0);              // no comment
        h.u16(0);              // disk
        h.u16(0);              // internal attributes
        h.u32(0100644u << 16); // a regular file, rw-r--r--
        h.u32(far ? kMax32 : quint32(entry.offset));
        h.raw(entry.name);
        if (far) {
            h.u16(0x0001);
            h.u16(8);
            h.u64(entry.offset);
        }
        if (!writeData(h.bytes()))
            return false;
    }
    const quint64 directorySize = quint64(m_pos) - directoryStart;
    const quint64 count = quint64(m_entries.size());
    Bytes end;
    const bool zip64 = directoryStart >= kMax32 || count >= 0xFFFF;
    if (zip64) {
        const quint64 recordAt = quint64(m_pos);
        end.u32(kZip64EndOfCentralDirectory);
        end.u64(44); // size of the rest of the record
        end.u16(quint16((3 << 8) | kVersionZip64));
        end.u16(kVersionZip64);
        end.u32(0);
        end.u32(0);
        end.u64(count);
        end.u64(count);
        end.u64(directorySize);
        end.u64(directoryStart);
        end.u32(kZip64Locator);
        end.u32(0);
        end.u64(recordAt);
        end.u32(1);
    }
    end.u32(kEndOfCentralDirectory);
    end.u16(0);
    end.u16(0);
    end.u16(zip64 ? 0xFFFF : quint16(count));
    end.u16(zip64 ? 0xFFFF : quint16(count));
    end.u32(zip64 ? kMax32 : quint32(directorySize));
    end.u32(zip64 ? kMax32 : quint32(directoryStart));
    end.u16(0);
    return writeData(end.bytes());
}

namespace zipdeflate {

QByteArray deflatePiece(const char *data, qint64 size, int level, bool last)
{
    z_stream z{};
    // -15: raw deflate, as zip entries hold it.
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out;
    out.resize(int(deflateBound(&z, uLong(size))) + 16);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool ok = last ? status == Z_STREAM_END : (status == Z_OK && z.avail_in == 0);
    out.resize(ok ? int(z.total_out) : 0);
    deflateEnd(&z);
    return out;
}

QByteArray storedBlock(const QByteArray &data, bool last)
{
    Bytes b;
    const quint16 n = quint16(std::min<qint64>(data.size(), 0xFFFF));
    // BFINAL and BTYPE 00 in the first bits; a stored block starts on a byte.
    b.raw(QByteArray(1, last ? '\x01' : '\x00'));
    b.u16(n);
    b.u16(quint16(~n));
    b.raw(data.left(n));
    return b.bytes();
}

quint32 crc32Of(const char *data, qint64 size, quint32 crc)
{
    return quint32(crc32_z(crc, reinterpret_cast<const Bytef *>(data), z_size_t(size)));
}

quint32 crc32Combine(quint32 crcA, quint32 crcB, qint64 sizeB)
{
    return quint32(crc32_combine64(crcA, crcB, z_off64_t(sizeB)));
}

} // namespace zipdeflate
