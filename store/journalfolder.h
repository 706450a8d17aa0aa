#pragma once

#include <QString>

#include <functional>

// Where the journal can safely live. SQLite's write-ahead log needs memory
// shared between the processes of one machine, and the session lock files
// only see processes of this machine: neither holds on a network file system
// (NFS, SMB/CIFS and the like), so a data folder there is replaced by a local
// one.
namespace journalfolder {

// Whether folder (or, while it does not exist yet, the nearest folder above
// it that does) lies on a network file system.
bool isOnNetwork(const QString &folder);

// The local folder for the journal: $XDG_STATE_HOME/kv930 when that is set
// and local, else /var/tmp/kv930-<user> (made private to the user). Empty
// when neither can be used; *error then says why.
QString localFolder(QString *error);

// Tests decide what counts as a network folder; an empty function restores
// the file system's own answer.
void setNetworkCheckForTests(std::function<bool(const QString &)> check);

} // namespace journalfolder
