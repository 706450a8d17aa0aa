#include "journalrecord.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace journalrecord {
namespace {

enum : quint8
{
    StoredBit = 0x01,
    OverloadShift = 1,
    TimeShift = 3,
    MeterTimeShift = 5,
    DerivedMwBit = 0x80,
    EmptyText = 0x80,
    LiteralText = 0x81
};

quint64 zigzag(qint64 v)
{
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

qint64 unzigzag(quint64 v)
{
    return qint64(v >> 1) ^ -qint64(v & 1);
}

char *putVarint(char *p, quint64 v)
{
    while (v >= 0x80) {
        *p++ = char(v | 0x80);
        v >>= 7;
    }
    *p++ = char(v);
    return p;
}

char *putDouble(char *p, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i)
        *p++ = char(bits >> (8 * i));
    return p;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

int overloadCode(int overload)
{
    switch (overload) {
    case 0:
        return 0;
    case 1:
        return 1;
    case -1:
        return 2;
    default:
        return 3;
    }
}

// Reads the fields of a record with every length checked.
class Reader
{
public:
    Reader(const char *data, qint64 size) : m_p(data), m_end(data + size) {}

    bool atEnd() const { return m_p == m_end; }
    bool byte(quint8 *out)
    {
        if (m_p >= m_end)
            return false;
        *out = quint8(*m_p++);
        return true;
    }
    bool varint(quint64 *out)
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            quint8 b;
            if (!byte(&b))
                return false;
            v |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                *out = v;
                return true;
            }
        }
        return false;
    }
    bool signedVarint(qint64 *out)
    {
        quint64 v;
        if (!varint(&v))
            return false;
        *out = unzigzag(v);
        return true;
    }
    bool float64(double *out)
    {
        if (m_end - m_p < 8)
            return false;
        quint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= quint64(quint8(m_p[i])) << (8 * i);
        m_p += 8;
        std::memcpy(out, &bits, sizeof bits);
        return true;
    }
    bool text(QString *out)
    {
        quint64 length;
        if (!varint(&length) || length > quint64(m_end - m_p))
            return false;
        *out = QString::fromUtf8(m_p, int(length));
        m_p += length;
        return true;
    }
    bool uint32(quint32 *out)
    {
        if (m_end - m_p < 4)
            return false;
        *out = quint32(quint8(m_p[0])) | quint32(quint8(m_p[1])) << 8 |
               quint32(quint8(m_p[2])) << 16 | quint32(quint8(m_p[3])) << 24;
        m_p += 4;
        return true;
    }

private:
    const char *m_p;
    const char *m_end;
};

bool readTime(Reader &in, int kind, qint64 *previous, WallTime *out)
{
    out->kind = WallTime::Kind(kind);
    if (kind == WallTime::Null)
        return true;
    qint64 delta;
    if (!in.signedVarint(&delta))
        return false;
    *previous += delta;
    out->ms = *previous;
    if (kind == WallTime::Offset) {
        qint64 offset;
        if (!in.signedVarint(&offset) || offset < INT_MIN || offset > INT_MAX)
            return false;
        out->offsetSeconds = qint32(offset);
    }
    return true;
}

bool readRecord(Reader &in, qint64 *previousTime, qint64 *previousMeterTime,
                ReadingStore::Fields *f)
{
    quint8 flags;
    if (!in.byte(&flags))
        return false;
    f->stored = flags & StoredBit;
    if (!readTime(in, (flags >> TimeShift) & 3, previousTime, &f->dateTime) ||
        !readTime(in, (flags >> MeterTimeShift) & 3, previousMeterTime, &f->dmmDateTime))
        return false;
    if (!in.float64(&f->values[ReadingStore::UW]))
        return false;
    if (flags & DerivedMwBit)
        f->values[ReadingStore::MW] = f->values[ReadingStore::UW] / 1000.0;
    else if (!in.float64(&f->values[ReadingStore::MW]))
        return false;
    if (!in.float64(&f->values[ReadingStore::DBm]))
        return false;
    for (int which = 0; which < 3; ++which) {
        quint8 code;
        if (!in.byte(&code))
            return false;
        f->texts[which].clear();
        f->decimals[which] = -1;
        if (code <= ReadingStore::MaxFieldDecimals)
            f->decimals[which] = qint8(code);
        else if (code == LiteralText && !in.text(&f->texts[which]))
            return false;
        else if (code != EmptyText && code != LiteralText)
            return false;
    }
    quint8 unit;
    if (!in.byte(&unit))
        return false;
    f->unitText.clear();
    if (unit <= ReadingStore::NoUnit) {
        f->unit = ReadingStore::Unit(unit);
    } else if (unit == LiteralText) {
        f->unit = ReadingStore::OtherUnit;
        if (!in.text(&f->unitText))
            return false;
    } else {
        return false;
    }
    switch ((flags >> OverloadShift) & 3) {
    case 0:
        f->overload = 0;
        break;
    case 1:
        f->overload = 1;
        break;
    case 2:
        f->overload = -1;
        break;
    default: {
        qint64 overload;
        if (!in.signedVarint(&overload) || overload < INT_MIN || overload > INT_MAX)
            return false;
        f->overload = int(overload);
    }
    }
    quint64 waveLength;
    qint64 storeNo;
    if (!in.varint(&waveLength) || waveLength > 0xFFFF || !in.signedVarint(&storeNo) ||
        storeNo < INT_MIN || storeNo > INT_MAX)
        return false;
    f->waveLength = quint16(waveLength);
    f->storeNo = qint32(storeNo);
    return true;
}

} // namespace

void SegmentEncoder::add(QByteArray &out, const ReadingStore::Fields &f)
{
    // Fixed part: flags, two times with offsets, three doubles, four codes,
    // overload, wavelength and store number: well under 96 bytes.
    char buffer[96];
    char *p = buffer + 1;
    const double uW = f.values[ReadingStore::UW];
    const double mW = f.values[ReadingStore::MW];
    const int overload = overloadCode(f.overload);
    quint8 flags = (f.stored ? StoredBit : 0) | quint8(overload << OverloadShift) |
                   quint8(f.dateTime.kind << TimeShift) |
                   quint8(f.dmmDateTime.kind << MeterTimeShift);
    if (f.dateTime.kind != WallTime::Null) {
        p = putVarint(p, zigzag(f.dateTime.ms - m_previousTime));
        m_previousTime = f.dateTime.ms;
        if (f.dateTime.kind == WallTime::Offset)
            p = putVarint(p, zigzag(f.dateTime.offsetSeconds));
    }
    if (f.dmmDateTime.kind != WallTime::Null) {
        p = putVarint(p, zigzag(f.dmmDateTime.ms - m_previousMeterTime));
        m_previousMeterTime = f.dmmDateTime.ms;
        if (f.dmmDateTime.kind == WallTime::Offset)
            p = putVarint(p, zigzag(f.dmmDateTime.offsetSeconds));
    }
    p = putDouble(p, uW);
    // NaN payloads may differ between machines: a NaN is always written out.
    if (!std::isnan(uW) && sameBits(mW, uW / 1000.0))
        flags |= DerivedMwBit;
    else
        p = putDouble(p, mW);
    p = putDouble(p, f.values[ReadingStore::DBm]);
    buffer[0] = char(flags);

    // Texts that are not plain decimals follow the fixed part's codes; they
    // are rare ("    OL"), so they are appended separately.
    QByteArray literals[4];
    for (int which = 0; which < 3; ++which) {
        const int d = f.decimals[which];
        if (d >= 0 && d <= ReadingStore::MaxFieldDecimals) {
            *p++ = char(d);
        } else if (d >= 0) {
            *p++ = char(LiteralText);
            literals[which] = QString::number(f.values[which], 'f', d).toUtf8();
        } else if (f.texts[which].isEmpty()) {
            *p++ = char(EmptyText);
        } else {
            *p++ = char(LiteralText);
            literals[which] = f.texts[which].toUtf8();
        }
    }
    const bool otherUnit = f.unit == ReadingStore::OtherUnit && !f.unitText.isEmpty();
    quint8 unitCode = quint8(f.unit);
    if (otherUnit)
        unitCode = LiteralText;
    else if (f.unit == ReadingStore::OtherUnit)
        unitCode = ReadingStore::NoUnit; // "other" without a text is no unit
    *p++ = char(unitCode);
    if (otherUnit)
        literals[3] = f.unitText.toUtf8();

    const bool anyLiteral = !literals[0].isEmpty() || !literals[1].isEmpty() ||
                            !literals[2].isEmpty() || !literals[3].isEmpty();
    if (!anyLiteral) {
        if (overload == 3)
            p = putVarint(p, zigzag(f.overload));
        p = putVarint(p, f.waveLength);
        p = putVarint(p, zigzag(f.storeNo));
        out.append(buffer, int(p - buffer));
        return;
    }
    // The literal texts sit between the codes and the rest, in field order.
    out.append(buffer, int(p - buffer) - 4);
    for (int which = 0; which < 4; ++which) {
        out.append(p[which - 4]);
        if (quint8(p[which - 4]) == LiteralText) {
            char length[10];
            out.append(length, int(putVarint(length, quint64(literals[which].size())) - length));
            out.append(literals[which]);
        }
    }
    p = buffer;
    if (overload == 3)
        p = putVarint(p, zigzag(f.overload));
    p = putVarint(p, f.waveLength);
    p = putVarint(p, zigzag(f.storeNo));
    out.append(buffer, int(p - buffer));
}

void appendSegmentHeader(QByteArray &out, quint32 count)
{
    const char bytes[4] = {char(count), char(count >> 8), char(count >> 16), char(count >> 24)};
    out.append(bytes, 4);
}

bool decodeRow(const char *data, qint64 size, ReadingStore &store)
{
    return detail::decodeRow(
        data, size,
        [](void *context, const ReadingStore::Fields &f) {
            static_cast<ReadingStore *>(context)->append(f);
        },
        &store);
}

bool detail::decodeRow(const char *data, qint64 size, FieldsSink sink, void *context)
{
    Reader in(data, size);
    quint8 version;
    if (!in.byte(&version) || version != FormatVersion || in.atEnd())
        return false; // a row always holds at least one segment
    ReadingStore::Fields f;
    while (!in.atEnd()) {
        quint32 count;
        if (!in.uint32(&count))
            return false;
        qint64 previousTime = 0;
        qint64 previousMeterTime = 0;
        for (quint32 i = 0; i < count; ++i) {
            if (!readRecord(in, &previousTime, &previousMeterTime, &f))
                return false;
            sink(context, f);
        }
    }
    return true;
}

} // namespace journalrecord
