#include "journalfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace journalfolder {
namespace {

std::function<bool(const QString &)> &networkCheck()
{
    static std::function<bool(const QString &)> check;
    return check;
}

// statfs's f_type of the network and cluster file systems (linux/magic.h,
// the rest from the file systems' own sources).
bool isNetworkType(unsigned long type)
{
    switch (type) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
    case AFS_SUPER_MAGIC:
    case AFS_FS_MAGIC:
    case V9FS_MAGIC:
    case CEPH_SUPER_MAGIC:
    case NCP_SUPER_MAGIC:
    case OCFS2_SUPER_MAGIC: // shared between machines
    case 0x01161970UL:      // GFS2, likewise
    case 0x0BD00BD0UL:      // Lustre
    case 0x47504653UL:      // GPFS
        return true;
    default:
        return false;
    }
}

QString existingAncestor(const QString &folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(path) && path != QLatin1String("/"))
        path = QFileInfo(path).path();
    return path;
}

QString userName()
{
    const passwd *pw = getpwuid(geteuid());
    return pw && pw->pw_name && *pw->pw_name ? QString::fromLocal8Bit(pw->pw_name)
                                             : QString::number(geteuid());
}

// A folder of this user only, in a place every user can write to: made with
// mode 0700, and refused when someone else made it (or made it a link).
bool makePrivateFolder(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error =
            QCoreApplication::translate("Journal", "the folder %1 cannot be created").arg(path);
        return false;
    }
    struct stat st
    {
    };
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        *error = QCoreApplication::translate("Journal", "the folder %1 belongs to another user")
                     .arg(path);
        return false;
    }
    if ((st.st_mode & 077) != 0)
        ::chmod(native.constData(), 0700);
    return true;
}

} // namespace

bool isOnNetwork(const QString &folder)
{
    if (networkCheck())
        return networkCheck()(folder);
    struct statfs fs
    {
    };
    if (::statfs(QFile::encodeName(existingAncestor(folder)).constData(), &fs) != 0)
        return false;
    return isNetworkType((unsigned long)(fs.f_type));
}

QString localFolder(QString *error)
{
    // Relative values are to be ignored, as the XDG specification says.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.isEmpty() && QDir::isAbsolutePath(state) && !isOnNetwork(state))
        return QDir(state).filePath(QStringLiteral("kv930"));
    const QString varTmp = QStringLiteral("/var/tmp/kv930-%1").arg(userName());
    if (isOnNetwork(varTmp)) {
        *error = QCoreApplication::translate("Journal", "no local folder was found for it");
        return QString();
    }
    return makePrivateFolder(varTmp, error) ? varTmp : QString();
}

void setNetworkCheckForTests(std::function<bool(const QString &)> check)
{
    networkCheck() = std::move(check);
}

} // namespace journalfolder
