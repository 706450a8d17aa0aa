// A plugin offering IMyDmm alone.
#include "imydmm.h"

#include <QObject>

class OnlyMyDmm : public QObject, public IMyDmm
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IMyDmm_iid)
    Q_INTERFACES(IMyDmm)
    Q_PROPERTY(QString provider READ provider CONSTANT)

public:
    QString provider() const;
    void requestStoreData() override {}
    void cancelStoreData() override {}
    void setMeterTime(const QDateTime &) override {}
};

// Out of line: a string literal's static inside an inline function is one
// process-wide symbol, shared by every library that defines the same class.
QString OnlyMyDmm::provider() const
{
    return QStringLiteral("onlymydmm");
}

#include "onlymydmm.moc"
