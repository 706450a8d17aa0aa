// A meter driver whose metadata is only partly usable: an unknown transport, a
// malformed USB id and no channel count. It makes no meters.
#include "imeterdriver.h"

#include <QObject>

class OddMeter : public QObject, public IMeterDriver
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IMeterDriver_iid FILE "oddmeter.json")
    Q_INTERFACES(IMeterDriver)

public:
    IMeter *createMeter(const MeterAddress &, int, const MeterOptions &, QString *error) override
    {
        *error = QStringLiteral("odd makes no meters");
        return nullptr;
    }
};

#include "oddmeter.moc"
