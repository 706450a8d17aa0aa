#include "kv930resources.h"

#include <QIcon>
#include <QImage>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { kv930InitResources(); }
    void iconLoads_data();
    void iconLoads();
};

void TestResources::iconLoads_data()
{
    QTest::addColumn<QString>("name");
    const char *names[] = {"connect",    "disconnect", "exit",   "play",   "stop",
                           "help",       "delete",     "new",    "rename", "active",
                           "pcdownload", "export",     "import", "sync",   "measure",
                           "rom",        "live",       "table",  "chart"};
    for (const char *name : names)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestResources::iconLoads()
{
    QFETCH(QString, name);
    const QString path = QStringLiteral(":/image/%1.png").arg(name);
    QVERIFY2(QFile::exists(path), qPrintable(path));

    QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(32, 32));
    QVERIFY(image.hasAlphaChannel());

    // A picture that drew nothing would still load; count what is visible.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    int transparentCorners = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 128)
                ++opaque;
    for (const QPoint &corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
        if (qAlpha(argb.pixel(corner)) == 0)
            ++transparentCorners;
    QVERIFY2(opaque >= 32, qPrintable(QStringLiteral("%1 visible pixels").arg(opaque)));
    // Icons sit on toolbars of any colour: the background must stay see-through.
    QVERIFY(opaque < 32 * 32);
    QVERIFY(transparentCorners >= 1);

    const QIcon icon(path);
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(16, 16).isNull());
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
