#pragma once

#include "walltime.h"

#include <QtGlobal>

#include <string>
#include <string_view>

// The pieces of the reading CSV files: ISO 8601 times, exact numbers and
// RFC 4180 quoting, written into and read from plain bytes (UTF-8), because a
// file of 10^7 readings cannot afford a QString per field.
namespace csv {

// What consecutive times share, looked up or formatted once: the UTC offset
// of local wall-clock times per quarter hour of wall clock (time zones change
// their offset on quarter hours) and the text of the minute.
class TimeCache
{
public:
    int localOffsetSeconds(qint64 wallMs);

private:
    friend int formatTime(char *out, const WallTime &time, TimeCache &cache);
    qint64 m_bucket = WallTime::NullMs;
    int m_seconds = 0;
    qint64 m_minute = WallTime::NullMs;
    char m_minuteText[24] = {}; // "yyyy-MM-ddThh:mm:"
    int m_minuteLength = 0;
};

// Writes "yyyy-MM-ddThh:mm:ss.zzz" followed by the UTC offset ("+02:00",
// "Z" for a UTC time, "+05:30:15" for an offset with seconds) to out (at least
// 40 bytes); returns the length, 0 for a null time. Years outside 0..9999
// keep their sign and all their digits.
int formatTime(char *out, const WallTime &time, TimeCache &cache);

// Reads what formatTime writes, also with a blank instead of the "T", one to
// nine digits of fractions (kept to the millisecond) or none, and without an
// offset (a local time). A time whose offset is the local one at that time
// becomes a local time, "Z" a UTC time, any other offset a fixed offset. An
// empty text is a null time. False for anything else.
bool parseTime(const char *begin, const char *end, WallTime *time, TimeCache &cache);

// Shortest text that reads back as the same double ("501.18723362727224",
// "1e-05", "nan", "-inf"); returns its length (out: at least 32 bytes).
int formatNumber(char *out, double value);
// Writes value in fixed point with decimals (0..15) digits after the point,
// byte for byte as QString::number(value, 'f', decimals) does: a halfway
// case rounds away from zero, a zero has no sign. Returns the length (out: at
// least 340 bytes).
int formatFixed(char *out, double value, int decimals);
// Reads a number as formatNumber writes it, also with a leading "+"; false
// for an empty text or anything else.
bool parseNumber(const char *begin, const char *end, double *value);

// Appends a field to a record, quoted (its quotes doubled) when it holds a
// comma, a quote, CR or LF, as RFC 4180 asks; other texts, blanks included,
// go as they are.
void appendField(std::string &record, const char *text, size_t size);

// Spreadsheets run a text cell that begins with '=', '+', '-', '@', a tab or
// a CR as a formula. Such a text (unless it is a number, as "-3.52" is) goes
// into the file behind an apostrophe, which spreadsheets take as "this is
// text". So that reading can always take exactly one apostrophe off again, a
// text whose leading apostrophes stand before such a character gets one more.
bool needsFormulaGuard(const char *text, size_t size);
// appendField for a text: guarded as above, then quoted as needed.
void appendTextField(std::string &record, const char *text, size_t size);
// A field as appendTextField wrote it, without its guard.
std::string_view unguarded(std::string_view field);

} // namespace csv
