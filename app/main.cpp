#include "kv930resources.h"
#include "widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Without TZ, glibc looks at /etc/localtime again on every conversion to
    // or from local time, a file system call each time. Naming the same file
    // keeps the zone and makes a conversion some fifteen times cheaper, which
    // counts where times are made by the million (importing long tables).
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QApplication a(argc, argv);
    kv930InitResources();
    Widget w;
    w.show();
    return a.exec();
}
