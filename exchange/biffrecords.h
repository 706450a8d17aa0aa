#pragma once

#include <QtEndian>

#include <cstring>

// What the .xls writer and readers share of the BIFF8 record format: the
// record identifiers and the two ways a number is stored in a cell record.
namespace xls {

enum Record : quint16
{
    RecFormula = 0x0006,
    RecEof = 0x000A,
    RecDateMode = 0x0022,
    RecFilePass = 0x002F,
    RecFont = 0x0031,
    RecContinue = 0x003C,
    RecWindow1 = 0x003D,
    RecCodepage = 0x0042,
    RecColInfo = 0x007D,
    RecBoundSheet = 0x0085,
    RecMulRk = 0x00BD,
    RecMulBlank = 0x00BE,
    RecRString = 0x00D6,
    RecXf = 0x00E0,
    RecSst = 0x00FC,
    RecLabelSst = 0x00FD,
    RecExtSst = 0x00FF,
    RecDimensions = 0x0200,
    RecBlank = 0x0201,
    RecNumber = 0x0203,
    RecLabel = 0x0204,
    RecBoolErr = 0x0205,
    RecString = 0x0207,
    RecWindow2 = 0x023E,
    RecRk = 0x027E,
    RecStyle = 0x0293,
    RecFormat = 0x041E,
    RecBof = 0x0809,
};

// A number packed into 30 bits: an integer or the top of a double, either
// possibly scaled by 100.
inline double rkValue(quint32 rk)
{
    double v;
    if (rk & 0x2) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & 0x1) ? v / 100.0 : v;
}

// A little-endian IEEE double.
inline double doubleAt(const uchar *p)
{
    const quint64 bits = qFromLittleEndian<quint64>(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace xls
