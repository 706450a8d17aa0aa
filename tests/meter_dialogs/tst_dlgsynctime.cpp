#include "dlgsynctime.h"

#include <QDateTimeEdit>
#include <QGridLayout>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {
QDateTimeEdit *edit(dlgSyncTime &d)
{
    return d.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEdit"));
}
QPushButton *button(dlgSyncTime &d)
{
    return d.findChild<QPushButton *>(QStringLiteral("btnSync"));
}
} // namespace

class TestDlgSyncTime : public QObject
{
    Q_OBJECT
private slots:
    void form();
    void displayFormat_data();
    void displayFormat();
    void pressingTwiceSendsSameValueTwice();
    void sendsEditedValue();
    void valueDoesNotTick();
    void deletedWhenClosed();
};

void TestDlgSyncTime::form()
{
    const QDateTime dt(QDate(2024, 6, 30), QTime(12, 0, 1));
    QPointer<dlgSyncTime> d = new dlgSyncTime(dt);
    QCOMPARE(d->objectName(), QStringLiteral("dlgSyncTime"));
    QCOMPARE(d->size(), QSize(148, 67));
    QVERIFY(d->windowTitle().isEmpty());
    QVERIFY(d->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!d->isModal());

    auto *grid = d->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QVERIFY(edit(*d));
    QVERIFY(button(*d));
    int row, col, rs, cs;
    grid->getItemPosition(grid->indexOf(edit(*d)), &row, &col, &rs, &cs);
    QCOMPARE(QPoint(col, row), QPoint(0, 0));
    grid->getItemPosition(grid->indexOf(button(*d)), &row, &col, &rs, &cs);
    QCOMPARE(QPoint(col, row), QPoint(0, 1));
    QCOMPARE(button(*d)->text(), QStringLiteral("Synchronize"));
    QCOMPARE(edit(*d)->displayFormat(), QStringLiteral("yyyy/M/d H:mm:ss"));
    QCOMPARE(edit(*d)->dateTime(), dt);
    delete d;
}

void TestDlgSyncTime::displayFormat_data()
{
    QTest::addColumn<QDateTime>("dt");
    QTest::addColumn<QString>("text");
    QTest::newRow("no leading zeros")
        << QDateTime(QDate(2023, 3, 4), QTime(5, 6, 7)) << "2023/3/4 5:06:07";
    QTest::newRow("two digits") << QDateTime(QDate(2023, 12, 25), QTime(23, 59, 9))
                                << "2023/12/25 23:59:09";
    QTest::newRow("midnight") << QDateTime(QDate(2030, 1, 1), QTime(0, 0, 0)) << "2030/1/1 0:00:00";
}

void TestDlgSyncTime::displayFormat()
{
    QFETCH(QDateTime, dt);
    QFETCH(QString, text);
    dlgSyncTime *d = new dlgSyncTime(dt);
    d->show();
    QCOMPARE(edit(*d)->text(), text);
    d->close();
}

void TestDlgSyncTime::pressingTwiceSendsSameValueTwice()
{
    const QDateTime dt(QDate(2024, 2, 29), QTime(8, 9, 10));
    QPointer<dlgSyncTime> d = new dlgSyncTime(dt);
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QSignalSpy spy(d.data(), &dlgSyncTime::syncTime);
    QTest::mouseClick(button(*d), Qt::LeftButton);
    QTest::mouseClick(button(*d), Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toDateTime(), dt);
    QCOMPARE(spy.at(1).at(0).toDateTime(), dt);
    // The dialog stays open after sending.
    QVERIFY(!d.isNull());
    QVERIFY(d->isVisible());
    d->close();
}

void TestDlgSyncTime::sendsEditedValue()
{
    dlgSyncTime *d = new dlgSyncTime(QDateTime(QDate(2024, 1, 1), QTime(0, 0)));
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QSignalSpy spy(d, &dlgSyncTime::syncTime);
    // Edit the year section from the keyboard, as a user would.
    edit(*d)->setFocus();
    edit(*d)->setCurrentSection(QDateTimeEdit::YearSection);
    QTest::keyClick(edit(*d), Qt::Key_Up);
    QCOMPARE(edit(*d)->text(), QStringLiteral("2025/1/1 0:00:00"));
    QTest::mouseClick(button(*d), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toDateTime(), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    d->close();
}

void TestDlgSyncTime::valueDoesNotTick()
{
    const QDateTime dt(QDate(2022, 5, 6), QTime(7, 8, 9));
    dlgSyncTime *d = new dlgSyncTime(dt);
    d->show();
    QTest::qWait(1100);
    QSignalSpy spy(d, &dlgSyncTime::syncTime);
    d->on_btnSync_clicked();
    QCOMPARE(spy.at(0).at(0).toDateTime(), dt);
    d->close();
}

void TestDlgSyncTime::deletedWhenClosed()
{
    QWidget owner;
    QPointer<dlgSyncTime> a = new dlgSyncTime(QDateTime::currentDateTime(), &owner);
    QPointer<dlgSyncTime> b = new dlgSyncTime(QDateTime::currentDateTime(), &owner);
    a->show();
    b->show();
    a->close();
    QTRY_VERIFY(a.isNull());
    // Several may be open at once; closing one leaves the others.
    QVERIFY(!b.isNull());
    QVERIFY(b->isVisible());
    b->close();
    QTRY_VERIFY(b.isNull());
}

QTEST_MAIN(TestDlgSyncTime)
#include "tst_dlgsynctime.moc"
