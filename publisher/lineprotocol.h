#pragma once

#include "readingstore.h"

#include <QByteArray>
#include <QString>

namespace analysis {
class Judge;
}

// Readings as lines of InfluxDB's line protocol, the payload Telegraf's MQTT
// consumer (data_format = "influx") writes into InfluxDB unchanged:
//
//   optical_power,station=S1,meter=pm100,item=Measure1,wavelength=1550
//   dbm=-3.21,mw=0.4775,uw=477.5,overload=0i,index=17i,session="..." <ns since epoch>
//
// (one line). index is the reading's number in its item (from 1, as the
// table's No column) and session the journal's session: together they name
// a reading, so a consumer can drop the duplicates QoS 1 may deliver. The
// time is the reading's millisecond, its nanoseconds the index (modulo 10^6),
// so that readings of one millisecond stay apart as points of InfluxDB.
// A reading without a power (over or under range, a value that is not a
// number, a unit the meter did not name) has no power fields, but keeps
// overload, index and session. loss_db and verdict follow when the station
// judges the reading (a reference for its wavelength, limits).
namespace lineprotocol {

// A tag value with commas, equals signs and spaces escaped; line breaks and
// tabs become (escaped) spaces, and a backslash that a reader would pair with
// an escape or the separator after it is doubled. Empty tags are left out.
QByteArray tagValue(const QString &value);
// The text between the quotes of a string field: quotes and backslashes escaped.
QByteArray stringField(const QString &value);
// A level of an MQTT topic: the wildcards '+' and '#' and the separator '/'
// become '_'; an empty level is "_".
QString topicLevel(const QString &name);

// What all lines of one item share.
struct ItemLines
{
    QByteArray tags;    // ",station=S1,meter=pm100,item=Measure1"
    QByteArray session; // the session field's text, escaped
    static ItemLines make(const QString &station, const QString &meter, const QString &item,
                          qint64 session);
};

// Turns local wall-clock times into instants, remembering the offset of the
// last quarter hour asked for (time-zone rules change on quarter hours), so
// that a run of readings costs one time-zone lookup.
class Clock
{
public:
    // Milliseconds since the epoch; false for a null time.
    bool toEpochMs(const WallTime &time, qint64 *ms);

private:
    qint64 m_quarter = WallTime::NullMs;
    qint64 m_offsetMs = 0;
};

// Appends one line for the reading (index counts from 0; the line says index + 1).
void appendLine(QByteArray &out, const ItemLines &item, qint64 index,
                const ReadingStore::Fields &reading, const analysis::Judge *judge, Clock &clock);

} // namespace lineprotocol
