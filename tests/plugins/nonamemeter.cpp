// A meter driver without a name in its metadata: listed nowhere.
#include "imeterdriver.h"

#include <QObject>

class NoNameMeter : public QObject, public IMeterDriver
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IMeterDriver_iid FILE "nonamemeter.json")
    Q_INTERFACES(IMeterDriver)

public:
    IMeter *createMeter(const MeterAddress &, int, const MeterOptions &, QString *) override
    {
        return nullptr;
    }
};

#include "nonamemeter.moc"
