#pragma once

#include "readingstore.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

class DmmData;
struct Reading;

// Turns one row of an imported sheet (cells A..E: No., Time, Value, Unit,
// WaveLength) into a reading.
//
// - A value text holding a capital "L" is an overload: with a "-" under range
//   (0.01 uW, texts "   -OL", overload -1), otherwise over range (39990 uW,
//   texts "    OL", overload 1).
// - Otherwise the value text is read as a C-locale number in the row's unit
//   "uW", "mW" or "dBm"; the other two units are derived from it and
//   formatted, the row's own text is kept as read. A text that is no number
//   counts as 0 in uW and mW; in dBm, where 0 would be a real power (1 mW),
//   the reading has no power: all three values NaN and the text in all three.
// - Any other unit keeps its text, and the reading gets all three values 0
//   and empty texts, which is what lookups by an unknown unit yield anyway.
// - WaveLength drops a trailing "nm" and is read as a decimal integer (0
//   otherwise), kept to its low 16 bits.
// - Time is a date-time cell, or a text "yyyy-MM-dd hh:mm:ss" or
//   "yyyy-MM-dd hh:mm", or any other text Qt reads as an ISO 8601 date-time
//   ("2024-05-01T12:34:56", "2024-05-01T12:34:56.5+02:00"; a zone is kept);
//   anything else leaves the time null.
//
// Missing cells count as empty.
Reading readingOfRow(const QVariantList &row);
// The same in the reading store's terms, for the import itself: no local
// QDateTime and no number printed only to be recognised again.
ReadingStore::Fields fieldsOfRow(const QVariantList &row);
// The same as a new DmmData, which the caller owns.
DmmData *readingFromRow(const QVariantList &row);

// "Import%1" with %1 = 1 + the number of names starting with "Import"
// (case-sensitive).
QString nextImportName(const QStringList &existingNames);
