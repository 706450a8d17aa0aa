#include "pluginscan.h"

#include "idmm.h"
#include "imydmm.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#include <algorithm>

bool PluginBinding::complete() const
{
    return dmm && myDmm && serialDevice && rs232Vir;
}

QStringList PluginBinding::missing() const
{
    QStringList names;
    if (!serialDevice)
        names << QStringLiteral(SerialDeviceInf_iid);
    if (!rs232Vir)
        names << QStringLiteral(SerialRS232VirInf_iid);
    if (!dmm)
        names << QStringLiteral(IDmm_iid);
    if (!myDmm)
        names << QStringLiteral(IMyDmm_iid);
    return names;
}

QString pluginLibrarySuffix()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("dylib");
#else
    return QStringLiteral("so");
#endif
}

QStringList pluginScanOrder(const QString &dir)
{
    // QDir's default (Name | IgnoreCase) compares lower-cased names but leaves
    // names that differ only in case in an unspecified order; sorting here
    // keeps "last one wins" reproducible.
    QStringList names = QDir(dir).entryList(QDir::AllEntries, QDir::Unsorted);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const QString la = a.toLower();
        const QString lb = b.toLower();
        if (la != lb)
            return la < lb;
        return a < b;
    });
    return names;
}

PluginBinding scanPlugins(const QString &applicationDir)
{
    QDir dir(applicationDir);
    // Without a Lib folder the application folder itself is scanned.
    dir.cd(QStringLiteral("Lib"));
    return scanPluginFolder(dir.absolutePath());
}

PluginBinding scanPluginFolder(const QString &folder)
{
    PluginBinding binding;
    const QDir dir(folder);
    binding.scannedDirectory = dir.absolutePath();

    const QString suffix = pluginLibrarySuffix();
    const QStringList names = pluginScanOrder(binding.scannedDirectory);
    for (const QString &name : names) {
        const QString path = dir.absoluteFilePath(name);
        const QFileInfo info(path);
        if (!info.isFile() || info.suffix().toLower() != suffix)
            continue;

        // The loader object goes; the library and its root object stay.
        QPluginLoader loader(path);
        QObject *instance = loader.instance();
        if (!instance)
            continue;

        if (auto *p = qobject_cast<SerialDeviceInf *>(instance))
            binding.serialDevice = p;
        if (auto *p = qobject_cast<SerialRS232VirInf *>(instance))
            binding.rs232Vir = p;
        if (auto *p = qobject_cast<IDmm *>(instance))
            binding.dmm = p;
        if (auto *p = qobject_cast<IMyDmm *>(instance))
            binding.myDmm = p;
    }
    return binding;
}
