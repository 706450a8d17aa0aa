// SPDX-License-Identifier: MIT
#include "benchjournal.h"

#include "journal.h"

#include <QDateTime>

ReadingStore::Fields meterFields(ReadingStore::Unit unit)
{
    ReadingStore::Fields f;
    f.dateTime.kind = f.dmmDateTime.kind = WallTime::Local;
    f.unit = unit;
    f.decimals[0] = 1;
    f.decimals[1] = 3;
    f.decimals[2] = 2;
    return f;
}

bool writeUnclosedSession(const QString &folder, int n)
{
    Journal journal(folder);
    if (!journal.open())
        return false;
    journal.beginSession();
    const int item = journal.createItem(ItemData::Measure, QStringLiteral("Measure1"));
    ReadingStore store;
    ReadingStore::Fields f = meterFields(ReadingStore::DBm);
    f.waveLength = 1550;
    const qint64 start = QDateTime(QDate(2026, 3, 4), QTime(10, 0)).toMSecsSinceEpoch();
    for (int i = 0; i < n; ++i) {
        f.dateTime.ms = start + i * 100LL;
        f.dmmDateTime.ms = start + (i / 600) * 60000LL;
        f.values[0] = 500.0 + (i % 97) * 0.37;
        f.values[1] = f.values[0] / 1000.0;
        f.values[2] = -3.0 + (i % 89) * 0.01;
        store.append(f);
        if ((i + 1) % 100000 == 0)
            journal.appendReadings(item, store);
    }
    journal.appendReadings(item, store);
    journal.setActiveItem(item);
    return journal.flush(600000);
}
