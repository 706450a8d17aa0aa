#include "kv930resources.h"
#include "widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    kv930InitResources();
    Widget w;
    w.show();
    return a.exec();
}
