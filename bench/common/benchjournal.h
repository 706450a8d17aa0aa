// SPDX-License-Identifier: MIT
#pragma once

#include "readingstore.h"

#include <QString>

// The fields of a meter reading in the given unit, with the meter's decimals
// and local times; the caller fills in times and values.
ReadingStore::Fields meterFields(ReadingStore::Unit unit);

// Writes a session of n readings in one item into the journal in folder and
// leaves it unclosed, as a program that died leaves it. False when the
// journal could not be opened or written.
bool writeUnclosedSession(const QString &folder, int n);
