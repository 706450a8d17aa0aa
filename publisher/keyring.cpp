#include "keyring.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QVariant>

namespace keyring {
namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Keyring", text);
}

QStringList attributes(const QString &host, const QString &user)
{
    return {QStringLiteral("service"), QStringLiteral("kv930-publishing"), QStringLiteral("host"),
            host, QStringLiteral("user"), user};
}

QString tool()
{
    return QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
}

// What secret-tool said on failing, or why it could not run.
QString failure(QProcess &process)
{
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (!said.isEmpty() || process.exitStatus() == QProcess::NormalExit)
        return said;
    return process.errorString();
}
} // namespace

bool isAvailable()
{
    if (tool().isEmpty())
        return false;
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")));
}

std::optional<QString> lookup(const QString &host, const QString &user, QString *error,
                              int timeoutMs)
{
    if (!isAvailable()) {
        *error = tr("no key ring is running");
        return std::nullopt;
    }
    QProcess process;
    process.start(tool(), QStringList{QStringLiteral("lookup")} + attributes(host, user));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        *error = tr("the key ring did not answer");
        return std::nullopt;
    }
    QByteArray secret = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        secret.isEmpty()) {
        const QString said = failure(process);
        // secret-tool says nothing when it found nothing.
        *error = process.exitStatus() == QProcess::NormalExit && said.isEmpty()
                     ? tr("the key ring holds no password for %1 at %2").arg(user, host)
                     : said;
        return std::nullopt;
    }
    if (secret.endsWith('\n'))
        secret.chop(1);
    return QString::fromUtf8(secret);
}

void store(const QString &host, const QString &user, const QString &password, QObject *context,
           std::function<void(bool, const QString &)> done)
{
    if (!isAvailable()) {
        QTimer::singleShot(0, context, [done] { done(false, tr("no key ring is running")); });
        return;
    }
    auto *process = new QProcess(context);
    auto finish = [process, done](bool stored, const QString &error) {
        if (process->property("answered").toBool())
            return;
        process->setProperty("answered", true);
        process->deleteLater();
        done(stored, error);
    };
    QObject::connect(process, &QProcess::errorOccurred, context,
                     [process, finish](QProcess::ProcessError) { finish(false, failure(*process)); });
    QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), context,
                     [process, finish](int code, QProcess::ExitStatus status) {
                         const bool ok = status == QProcess::NormalExit && code == 0;
                         const QString said = ok ? QString() : failure(*process);
                         finish(ok, ok || !said.isEmpty() ? said
                                                          : tr("the key ring refused the password"));
                     });
    // A key ring that asks the user to unlock it may take a while; past that
    // the password goes into the file instead.
    QTimer::singleShot(60000, process, [process, finish] {
        finish(false, tr("the key ring did not answer"));
        process->kill();
    });
    process->start(tool(),
                   QStringList{QStringLiteral("store"),
                               QStringLiteral("--label=%1").arg(
                                   tr("KV930 publishing: %1 at %2").arg(user, host))} +
                       attributes(host, user));
    process->write(password.toUtf8());
    process->closeWriteChannel();
}

} // namespace keyring
