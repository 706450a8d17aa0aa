// A well-formed plugin whose library needs a variable nobody defines: the
// dynamic loader refuses it, and the scan must skip it.
#include "idmm.h"

#include <QObject>

extern int kv930_fixture_symbol_nobody_defines;

class UnresolvedDmm : public QObject, public IDmm
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IDmm_iid)
    Q_INTERFACES(IDmm)

public:
    QObject *object() override { return this; }
    bool open(SerialDeviceInf *) override { return kv930_fixture_symbol_nobody_defines != 0; }
    void close() override {}
    bool isOpen() override { return false; }
};

int *kv930_fixture_symbol_address = &kv930_fixture_symbol_nobody_defines;

#include "unresolved.moc"
