#pragma once

#include <QString>

#include <optional>

// Where and as what a station publishes its readings, as kv930.conf keeps it:
//   [publishing]
//   url=mqtts://broker.lab:8883   ; empty: no publishing
//   user=station7
//   station=S1                    ; empty: the computer's host name
//   password=...                  ; only where no key ring runs (the file is then 0600)
//   password_in_keyring=true      ; the password is in the user's key ring instead
//   ca_file=/etc/lab/ca.pem       ; a CA of the lab's own, besides the system's
struct PublishOptions
{
    QString url;
    QString user;
    QString password;
    bool passwordInKeyring = false;
    QString station;
    QString caFile;

    bool isEnabled() const { return !url.trimmed().isEmpty(); }
    // The station's name: as set, or the host name.
    QString stationName() const;

    static PublishOptions fromSettings();
    enum class PasswordPlace
    {
        File,   // in kv930.conf, made readable by its owner only
        Keyring // in the key ring: none in the file
    };
    // Writes the options to kv930.conf.
    void save(PasswordPlace place) const;
};

// A broker URL taken apart: mqtt://[user[:password]@]host[:port] (1883) or
// mqtts://... (8883, TLS).
struct BrokerAddress
{
    bool tls = false;
    QString host;
    int port = 0;
    QString user;     // from the URL, if it names one
    QString password; // from the URL, if it names one

    // Empty, and error says why, when the URL is none of these.
    static std::optional<BrokerAddress> parse(const QString &url, QString *error);
    // "host:port", as messages name the broker.
    QString displayName() const;
};

// The station's name when it is fit for a topic level; empty when it is,
// else why not (it must not be empty nor hold '/', '+' or '#').
QString stationNameProblem(const QString &station);
