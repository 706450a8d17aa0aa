// A plugin offering SerialDeviceInf alone.
#include "serialdeviceinf.h"

#include <QObject>

class OnlySerialDevice : public QObject, public SerialDeviceInf
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SerialDeviceInf_iid)
    Q_INTERFACES(SerialDeviceInf)
    Q_PROPERTY(QString provider READ provider CONSTANT)

public:
    QString provider() const;
    bool openPort(const QString &) override { return false; }
    void closePort() override {}
    qint64 write(const QByteArray &) override { return -1; }
    QObject *object() override { return this; }

signals:
    void usbRefreshed();
};

// Out of line: a string literal's static inside an inline function is one
// process-wide symbol, shared by every library that defines the same class.
QString OnlySerialDevice::provider() const
{
    return QStringLiteral("onlyserialdevice");
}

#include "onlyserialdevice.moc"
