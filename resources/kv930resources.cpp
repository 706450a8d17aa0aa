#include "kv930resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initIcons()
{
    Q_INIT_RESOURCE(kv930icons);
}

void kv930InitResources()
{
    initIcons();
}
