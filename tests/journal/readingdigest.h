#pragma once

#include "readingstore.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>

// Every field of a reading, hashed: what the crash test's child reports for
// each reading it receives and what the restart must read back.
inline QByteArray readingDigest(const ReadingStore &store, int index)
{
    const ReadingStore::Fields f = store.fields(index);
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const WallTime &t : {f.dateTime, f.dmmDateTime})
        out << t.ms << t.offsetSeconds << quint8(t.kind);
    for (int k = 0; k < 3; ++k)
        out << f.values[k] << f.decimals[k] << f.texts[k];
    out << quint8(f.unit) << f.unitText << f.overload << f.waveLength << f.stored << f.storeNo;
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().left(16);
}
