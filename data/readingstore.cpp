#include "readingstore.h"

#include "dmmdata.h"
#include "reading.h"

#include <atomic>
#include <cstring>

namespace {
const QString &unitName(int unit)
{
    static const QString names[] = {QStringLiteral("uW"), QStringLiteral("mW"),
                                    QStringLiteral("dBm"), QString()};
    return names[unit];
}

// Decimals of a text that may be QString::number(v, 'f', decimals); -1 when
// the text cannot be one (signs, blanks, exponents, letters).
int plainDecimals(const QString &text)
{
    const int n = text.size();
    int i = 0;
    if (n > 0 && text.at(0) == QLatin1Char('-'))
        i = 1;
    if (i >= n || !text.at(i).isDigit())
        return -1;
    int dot = -1;
    for (; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.') && dot < 0)
            dot = i;
        else if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return dot < 0 ? 0 : n - dot - 1;
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
} // namespace

ReadingStore::ReadingStore() = default;
ReadingStore::~ReadingStore() = default;
ReadingStore::ReadingStore(ReadingStore &&other) noexcept = default;
ReadingStore &ReadingStore::operator=(ReadingStore &&other) noexcept = default;

ReadingStore::Unit ReadingStore::unitOf(const QString &text)
{
    if (text.isEmpty())
        return NoUnit;
    for (int u = UW; u <= DBm; ++u) {
        if (text == unitName(u))
            return Unit(u);
    }
    return OtherUnit;
}

QString ReadingStore::unitText(Unit unit)
{
    return unit <= NoUnit ? unitName(unit) : QString();
}

quint64 ReadingStore::nextGeneration()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}

qint8 ReadingStore::fixedDecimals(const QString &text, double value)
{
    const int d = text.isEmpty() ? -1 : plainDecimals(text);
    return d >= 0 && d <= MaxFieldDecimals && QString::number(value, 'f', d) == text ? qint8(d)
                                                                                     : qint8(-1);
}

namespace {
// The store's terms for one display text: decimals when the text is exactly
// the value in fixed point, else the text itself.
void splitText(const QString &text, double value, qint8 *decimals, QString *other)
{
    *decimals = ReadingStore::fixedDecimals(text, value);
    if (*decimals < 0)
        *other = text;
}
} // namespace

void ReadingStore::append(const DmmData &reading)
{
    append(Reading::fromDmmData(reading));
}

void ReadingStore::append(const Reading &r)
{
    Fields f;
    f.dateTime = WallTime::fromDateTime(r.dateTime);
    f.dmmDateTime = WallTime::fromDateTime(r.dmmDateTime);
    f.values[UW] = r.valueUW;
    f.values[MW] = r.valueMW;
    f.values[DBm] = r.valueDBm;
    splitText(r.textUW, r.valueUW, &f.decimals[UW], &f.texts[UW]);
    splitText(r.textMW, r.valueMW, &f.decimals[MW], &f.texts[MW]);
    splitText(r.textDBm, r.valueDBm, &f.decimals[DBm], &f.texts[DBm]);
    f.unit = unitOf(r.unit);
    if (f.unit == OtherUnit)
        f.unitText = r.unit;
    f.overload = r.overload;
    f.waveLength = r.waveLength;
    f.stored = r.stored;
    f.storeNo = r.storeNo;
    appendFields(f);
}

void ReadingStore::append(const Fields &fields)
{
    appendFields(fields);
}

void ReadingStore::appendFrom(const ReadingStore &other, int from, int count)
{
    for (int i = from; i < from + count && i < other.size(); ++i)
        appendFields(other.fields(i));
}

void ReadingStore::clear()
{
    // A fresh object, so the interning tables' memory goes as well.
    *this = ReadingStore();
}

void ReadingStore::appendFields(const Fields &f)
{
    const int index = m_size;
    if (slot(index) == 0)
        m_chunks.emplace_back(new Chunk); // not zeroed: only the slots used are touched
    Chunk &c = *m_chunks.back();
    const int s = slot(index);
    quint8 flags = f.stored ? StoredFlag : 0;

    encodeTime(c, index, 0, f.dateTime, &flags);
    encodeTime(c, index, 1, f.dmmDateTime, &flags);
    c.uW[s] = f.values[UW];
    c.mW[s] = f.values[MW];
    c.dBm[s] = f.values[DBm];
    c.storeNo[s] = f.storeNo;
    c.waveLength[s] = f.waveLength;
    for (int which = 0; which < 3; ++which) {
        const int d = f.decimals[which];
        if (d >= 0 && d <= MaxDecimals)
            c.text[which][s] = quint16(1 + d);
        else if (d >= 0) // too many decimals for a code: keep the text it prints
            c.text[which][s] = internText(index, which, QString::number(f.values[which], 'f', d));
        else
            c.text[which][s] = internText(index, which, f.texts[which]);
    }

    const int code = overloadCode(f.overload);
    flags |= quint8(code << OverloadShift);
    if (code == 3)
        m_overloadOverflow.insert(index, f.overload);

    const Unit unit = f.unit == OtherUnit && f.unitText.isEmpty() ? NoUnit : f.unit;
    if (unit != OtherUnit) {
        c.unit[s] = unit;
    } else if (const auto it = m_unitIds.constFind(f.unitText); it != m_unitIds.cend()) {
        c.unit[s] = it.value();
    } else if (OtherUnit + m_units.size() < UnitOverflow) {
        const auto id = quint8(OtherUnit + m_units.size());
        m_units.append(f.unitText);
        m_unitIds.insert(f.unitText, id);
        c.unit[s] = id;
    } else {
        c.unit[s] = UnitOverflow;
        m_unitOverflow.insert(index, f.unitText);
    }
    c.flags[s] = flags;
    ++m_size;
}

void ReadingStore::encodeTime(Chunk &c, int index, int which, const WallTime &t, quint8 *flags)
{
    const int s = slot(index);
    (which == 0 ? c.time : c.dmmTime)[s] = t.ms;
    qint16 minutes = 0;
    if (t.kind == WallTime::Offset) {
        if (t.offsetSeconds % 60 == 0 && qAbs(t.offsetSeconds / 60) < 32768) {
            minutes = qint16(t.offsetSeconds / 60);
        } else {
            *flags |= OffsetOverflowFlag;
            m_offsetOverflow.insert(qint64(index) * 2 + which, t.offsetSeconds);
        }
    }
    (which == 0 ? c.timeOffset : c.dmmOffset)[s] = minutes;
    *flags |= quint8(t.kind << (which == 0 ? TimeSpecShift : DmmSpecShift));
}

WallTime ReadingStore::decodeTime(int index, int which) const
{
    const Chunk &c = chunk(index);
    const int s = slot(index);
    WallTime t;
    t.kind = WallTime::Kind((c.flags[s] >> (which == 0 ? TimeSpecShift : DmmSpecShift)) & 3);
    if (t.kind == WallTime::Null)
        return t;
    t.ms = (which == 0 ? c.time : c.dmmTime)[s];
    if (t.kind == WallTime::Offset) {
        const auto overflow = (c.flags[s] & OffsetOverflowFlag)
                                  ? m_offsetOverflow.constFind(qint64(index) * 2 + which)
                                  : m_offsetOverflow.cend();
        t.offsetSeconds = overflow != m_offsetOverflow.cend()
                              ? overflow.value()
                              : (which == 0 ? c.timeOffset : c.dmmOffset)[s] * 60;
    }
    return t;
}

WallTime ReadingStore::dateTime(int index) const
{
    return decodeTime(index, 0);
}

WallTime ReadingStore::dmmDateTime(int index) const
{
    return decodeTime(index, 1);
}

quint16 ReadingStore::internText(int index, int which, const QString &text)
{
    if (text.isEmpty())
        return 0;
    if (const auto it = m_internedIds.constFind(text); it != m_internedIds.cend())
        return it.value();
    if (FirstInterned + m_interned.size() < TextOverflow) {
        const auto code = quint16(FirstInterned + m_interned.size());
        m_interned.append(text);
        m_internedIds.insert(text, code);
        return code;
    }
    m_textOverflow.insert(qint64(index) * 3 + which, text);
    return TextOverflow;
}

QString ReadingStore::decodeText(int index, int which, quint16 code, double value) const
{
    if (code == 0)
        return QString();
    if (code < FirstInterned)
        return QString::number(value, 'f', code - 1);
    if (code == TextOverflow)
        return m_textOverflow.value(qint64(index) * 3 + which);
    return m_interned.at(code - FirstInterned);
}

double ReadingStore::value(int index, Unit unit) const
{
    switch (unit) {
    case UW:
        return valueUW(index);
    case MW:
        return valueMW(index);
    case DBm:
        return valueDBm(index);
    default:
        return 0.0;
    }
}

QString ReadingStore::text(int index, Unit unit) const
{
    if (unit > DBm)
        return QString();
    const Chunk &c = chunk(index);
    const int s = slot(index);
    const double v = unit == UW ? c.uW[s] : unit == MW ? c.mW[s] : c.dBm[s];
    return decodeText(index, unit, c.text[unit][s], v);
}

int ReadingStore::ownTextDecimals(int index) const
{
    const Unit unit = unitCode(index);
    if (unit > DBm)
        return -1;
    const quint16 code = chunk(index).text[unit][slot(index)];
    return code >= 1 && code < FirstInterned ? code - 1 : -1;
}

ReadingStore::Unit ReadingStore::unitCode(int index) const
{
    const quint8 code = chunk(index).unit[slot(index)];
    return code >= OtherUnit ? OtherUnit : Unit(code);
}

QString ReadingStore::unit(int index) const
{
    const quint8 code = chunk(index).unit[slot(index)];
    if (code < OtherUnit)
        return unitName(code);
    if (code == UnitOverflow)
        return m_unitOverflow.value(index);
    return m_units.at(code - OtherUnit);
}

int ReadingStore::overload(int index) const
{
    switch ((chunk(index).flags[slot(index)] >> OverloadShift) & 3) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return -1;
    default:
        return m_overloadOverflow.value(index);
    }
}

Reading ReadingStore::at(int index) const
{
    Reading r;
    r.dateTime = dateTime(index).toDateTime();
    r.dmmDateTime = dmmDateTime(index).toDateTime();
    r.valueUW = valueUW(index);
    r.valueMW = valueMW(index);
    r.valueDBm = valueDBm(index);
    r.textUW = text(index, UW);
    r.textMW = text(index, MW);
    r.textDBm = text(index, DBm);
    r.overload = overload(index);
    r.unit = unit(index);
    r.waveLength = waveLength(index);
    r.stored = stored(index);
    r.storeNo = storeNo(index);
    return r;
}

Reading ReadingStore::readingOf(const Fields &f)
{
    Reading r;
    r.dateTime = f.dateTime.toDateTime();
    r.dmmDateTime = f.dmmDateTime.toDateTime();
    r.valueUW = f.values[UW];
    r.valueMW = f.values[MW];
    r.valueDBm = f.values[DBm];
    QString *texts[3] = {&r.textUW, &r.textMW, &r.textDBm};
    for (int which = 0; which < 3; ++which)
        *texts[which] = f.decimals[which] >= 0
                            ? QString::number(f.values[which], 'f', f.decimals[which])
                            : f.texts[which];
    r.overload = f.overload;
    r.unit = f.unit == OtherUnit ? f.unitText : unitText(f.unit);
    r.waveLength = f.waveLength;
    r.stored = f.stored;
    r.storeNo = f.storeNo;
    return r;
}

ReadingStore::Fields ReadingStore::fields(int index) const
{
    const Chunk &c = chunk(index);
    const int s = slot(index);
    Fields f;
    f.dateTime = decodeTime(index, 0);
    f.dmmDateTime = decodeTime(index, 1);
    f.values[UW] = c.uW[s];
    f.values[MW] = c.mW[s];
    f.values[DBm] = c.dBm[s];
    for (int which = 0; which < 3; ++which) {
        const quint16 code = c.text[which][s];
        if (code > 0 && code < FirstInterned)
            f.decimals[which] = qint8(code - 1);
        else if (code != 0)
            f.texts[which] = decodeText(index, which, code, 0.0);
    }
    f.unit = unitCode(index);
    if (f.unit == OtherUnit)
        f.unitText = unit(index);
    f.overload = overload(index);
    f.waveLength = c.waveLength[s];
    f.stored = c.flags[s] & StoredFlag;
    f.storeNo = c.storeNo[s];
    return f;
}

qint64 ReadingStore::memoryBytes() const
{
    qint64 bytes = qint64(m_chunks.size()) * qint64(sizeof(Chunk));
    for (const QString &text : m_interned)
        bytes += text.size() * 2 + 32;
    bytes += (m_textOverflow.size() + m_unitOverflow.size() + m_overloadOverflow.size() +
              m_offsetOverflow.size()) *
             48;
    return bytes;
}
