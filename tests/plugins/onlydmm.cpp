// A plugin offering IDmm alone. It is built twice under different names; its
// "provider" property tells the scan tests which of the two was bound.
#include "idmm.h"

#include <QObject>

#ifndef FIXTURE_PROVIDER
#define FIXTURE_PROVIDER "onlydmm"
#endif

class OnlyDmm : public QObject, public IDmm
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IDmm_iid)
    Q_INTERFACES(IDmm)
    Q_PROPERTY(QString provider READ provider CONSTANT)

public:
    QString provider() const;
    QObject *object() override { return this; }
    bool open(SerialDeviceInf *) override { return false; }
    void close() override {}
    bool isOpen() override { return false; }
};

// Out of line: a string literal's static inside an inline function is one
// process-wide symbol, shared by every library that defines the same class.
QString OnlyDmm::provider() const
{
    return QStringLiteral(FIXTURE_PROVIDER);
}

#include "onlydmm.moc"
