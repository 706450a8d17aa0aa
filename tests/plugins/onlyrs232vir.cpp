// A plugin offering SerialRS232VirInf alone.
#include "serialrs232virinf.h"

#include <QObject>

class OnlyRs232Vir : public QObject, public SerialRS232VirInf
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SerialRS232VirInf_iid)
    Q_INTERFACES(SerialRS232VirInf)
    Q_PROPERTY(QString provider READ provider CONSTANT)

public:
    QString provider() const;
    QSerialPortInfo findPort(quint16, quint16) override { return QSerialPortInfo(); }
};

// Out of line: a string literal's static inside an inline function is one
// process-wide symbol, shared by every library that defines the same class.
QString OnlyRs232Vir::provider() const
{
    return QStringLiteral("onlyrs232vir");
}

#include "onlyrs232vir.moc"
