#pragma once
// Our SCPI instrument simulator (scpisim.py) run by a test: the path of
// the script comes from the build (KV930_SCPISIM).

#include <QProcess>
#include <QString>
#include <QStringList>

// The simulator, started for one test and killed at its end.
struct Simulator
{
    QProcess process;
    QString where; // the pty's path, or "tcp://127.0.0.1:PORT"

    bool start(const QString &model, const QString &link, const QString &script, int channel = 1)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("python3"),
                      {QStringLiteral(KV930_SCPISIM), QStringLiteral("--model"), model,
                       QStringLiteral("--link"), link, QStringLiteral("--channel"),
                       QString::number(channel), QStringLiteral("--script"), script});
        if (!process.waitForStarted(10000))
            return false;
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return false;
        const QStringList ready =
            QString::fromUtf8(process.readLine()).trimmed().split(QLatin1Char(' '));
        if (ready.size() != 2)
            return false;
        where = ready[0] == QLatin1String("TCP") ? QStringLiteral("tcp://127.0.0.1:") + ready[1]
                                                 : ready[1];
        return true;
    }
    ~Simulator()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};
