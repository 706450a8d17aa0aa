#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

class QIODevice;

// A zip archive written front to back into a seekable device, as the .xlsx
// writer needs it: entries are deflated here (addEntry) or by the caller
// (beginEntry, writeData, endEntry), and each entry's local header is
// completed in place once its data is written, so no data descriptors are
// needed. Archives beyond 4 GiB get Zip64 records in the central directory;
// a single entry must stay below 4 GiB.
class ZipWriter
{
public:
    explicit ZipWriter(QIODevice &device);

    // A whole entry, deflated here.
    bool addEntry(const QByteArray &name, const QByteArray &data);

    // An entry whose raw deflate data the caller writes.
    bool beginEntry(const QByteArray &name);
    bool writeData(const char *data, qint64 size);
    bool writeData(const QByteArray &bytes) { return writeData(bytes.constData(), bytes.size()); }
    // Completes the entry begun last; crc may still change (setEntryCrc).
    bool endEntry(quint32 crc, quint64 uncompressedSize);
    // Index of the entry begun last.
    int lastEntry() const { return m_entries.size() - 1; }
    // Sets the CRC of a completed entry (whose data was patched since).
    bool setEntryCrc(int entry, quint32 crc);

    // Where the next byte goes, and overwriting bytes already written
    // (writing then goes on at the end).
    qint64 position() const { return m_pos; }
    bool patch(qint64 at, const QByteArray &bytes);

    // Writes the central directory; the device then holds the archive.
    bool finish();

    QString errorString() const { return m_error; }

private:
    struct Entry
    {
        QByteArray name;
        quint64 offset = 0; // of the local header
        quint32 crc = 0;
        quint64 compressedSize = 0;
        quint64 size = 0;
    };
    bool fail(const QString &why);

    QIODevice &m_device;
    QVector<Entry> m_entries;
    qint64 m_pos = 0;
    quint16 m_dosTime = 0;
    quint16 m_dosDate = 0;
    QString m_error;
};

namespace zipdeflate {

// Raw deflate (no zlib header) of data at the given level. A piece that is
// not the last ends on a byte boundary (a sync flush), so that pieces
// deflated apart, one after another, make one valid stream; the last one
// ends the stream.
QByteArray deflatePiece(const char *data, qint64 size, int level, bool last);

// A stored deflate block holding data as it is (at most 65,535 bytes).
QByteArray storedBlock(const QByteArray &data, bool last);

quint32 crc32Of(const char *data, qint64 size, quint32 crc = 0);
// The CRC of A followed by B, from the CRCs of both and B's length.
quint32 crc32Combine(quint32 crcA, quint32 crcB, qint64 sizeB);

} // namespace zipdeflate
