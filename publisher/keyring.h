#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;

// The broker password in the user's key ring (the Secret Service of the
// desktop session, through libsecret's secret-tool), kept under the broker's
// host and the user name. Optional at run time: without secret-tool or a
// session bus there is no key ring, and the password lives in kv930.conf.
namespace keyring {

// secret-tool is installed and a session bus is there to reach the key ring.
bool isAvailable();

// The password kept for user at host. Waits for secret-tool (at most
// timeoutMs: a locked key ring may ask the user first), so call it off the
// window's thread. Empty, and error says why, when there is none.
std::optional<QString> lookup(const QString &host, const QString &user, QString *error,
                              int timeoutMs = 20000);

// Keeps the password for user at host, without waiting: done(true) or
// done(false, why) follows on context's thread.
void store(const QString &host, const QString &user, const QString &password, QObject *context,
           std::function<void(bool stored, const QString &error)> done);

} // namespace keyring
