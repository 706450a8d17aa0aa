#pragma once

#include "readingstore.h"

#include <QByteArray>

#include <type_traits>

// The journal's binary form of readings. It lives on disk for weeks and is
// read by later versions of the program, so it is versioned and never changes
// meaning; a new layout gets a new version byte.
//
// A row (one BLOB) is the version byte followed by segments. A segment is its
// reading count (4 bytes, little-endian) followed by that many records; the
// time deltas inside a segment start again from zero, so segments written at
// different moments can simply be concatenated into one row.
//
// Record, version 1:
//   flags      1 byte: bit 0 stored; bits 1-2 overload (0, 1, -1, or 3: a
//              zigzag varint follows); bits 3-4 and 5-6 the kind of the two
//              time stamps (WallTime::Kind); bit 7 mW is exactly uW / 1000
//   time       zigzag varint, ms since the previous record's time (if not null),
//              then the offset in seconds as a zigzag varint (if Offset)
//   meter time the same, against the previous record's meter time
//   values     uW, [mW unless bit 7], dBm as IEEE doubles, little-endian
//   texts      a code for each of uW, mW, dBm: 0..15 the value printed with
//              that many decimals, 0x80 empty, 0x81 a text follows at once
//              (varint length, UTF-8)
//   unit       a code: 0 uW, 1 mW, 2 dBm, 3 none, 0x81 a text follows
//   [overload] zigzag varint, when the flags say so
//   wavelength varint
//   store no.  zigzag varint
namespace journalrecord {

constexpr quint8 FormatVersion = 1;

// Encodes readings one by one into a segment's records; the segment's count
// header is written by whoever assembles the row.
class SegmentEncoder
{
public:
    void add(QByteArray &out, const ReadingStore::Fields &reading);

private:
    qint64 m_previousTime = 0;
    qint64 m_previousMeterTime = 0;
};

// Appends to out a segment header for count records.
void appendSegmentHeader(QByteArray &out, quint32 count);

// Decodes a whole row into store. Returns false when the row is not a valid
// row of a known version; the readings decoded before the fault stay.
bool decodeRow(const char *data, qint64 size, ReadingStore &store);

// The same, handing each reading to sink (a callable taking const
// ReadingStore::Fields &) instead of keeping it.
template <typename Sink> bool decodeRow(const char *data, qint64 size, Sink &&sink);

namespace detail {
using FieldsSink = void (*)(void *context, const ReadingStore::Fields &fields);
bool decodeRow(const char *data, qint64 size, FieldsSink sink, void *context);
} // namespace detail

template <typename Sink> bool decodeRow(const char *data, qint64 size, Sink &&sink)
{
    using Callable = std::remove_reference_t<Sink>;
    return detail::decodeRow(
        data, size,
        [](void *context, const ReadingStore::Fields &fields) {
            (*static_cast<Callable *>(context))(fields);
        },
        const_cast<void *>(static_cast<const void *>(&sink)));
}

} // namespace journalrecord
