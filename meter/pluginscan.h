#pragma once

#include <QString>
#include <QStringList>

class IDmm;
class IMyDmm;
class SerialDeviceInf;
class SerialRS232VirInf;

// What a scan of the driver folder bound. Each pointer belongs to a plugin root
// object that lives (and whose library stays loaded) until the process ends.
struct PluginBinding
{
    IDmm *dmm = nullptr;
    IMyDmm *myDmm = nullptr;
    SerialDeviceInf *serialDevice = nullptr;
    SerialRS232VirInf *rs232Vir = nullptr;

    // True when all four interfaces were found.
    bool complete() const;
    // Identifiers of the interfaces no plugin offered, e.g. "com.zr.IMyDmm",
    // in the order SerialDeviceInf, SerialRS232VirInf, IDmm, IMyDmm.
    QStringList missing() const;

    // Absolute path of the folder that was actually scanned.
    QString scannedDirectory;
};

// Loads every plugin library in applicationDir + "/Lib" (or in applicationDir
// itself when there is no such folder) in case-insensitive name order and binds
// the four meter interfaces; when several plugins offer one interface, the
// last one in that order wins. Files that are not loadable plugins are skipped.
PluginBinding scanPlugins(const QString &applicationDir);
// The same for exactly this folder.
PluginBinding scanPluginFolder(const QString &folder);

// The platform's shared-library suffix without the dot: "dll", "dylib" or "so".
QString pluginLibrarySuffix();

// The entry names of dir in scan order: every entry QDir lists by default,
// sorted by name ignoring case (ties in the exact name, so the order is stable).
QStringList pluginScanOrder(const QString &dir);
