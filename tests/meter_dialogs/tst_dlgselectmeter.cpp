// The meter dialog over the catalogue's fixture folder: what it offers, what
// it refuses, and the ID and options it returns.
#include "dlgselectmeter.h"
#include "metercatalogue.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class TestDlgSelectMeter : public QObject
{
    Q_OBJECT
private slots:
    void choosesTypesAndReturnsAMeter();
};

void TestDlgSelectMeter::choosesTypesAndReturnsAMeter()
{
    QTemporaryDir noDevices;
    DeviceSources sources;
    sources.devDir = noDevices.path();
    sources.sysDir = noDevices.path();
    sources.serialPorts = [] {
        return QList<SerialPortEntry>{
            {QStringLiteral("/nonexistent/ttyACM0"), true, 0x1313, 0x8072, {}}};
    };
    const MeterCatalogue catalogue(QStringLiteral(KV930_FIXTURES_DIR "/catalogue/Lib"), sources);
    DlgSelectMeter dialog(catalogue);
    QCOMPARE(dialog.objectName(), QStringLiteral("DlgSelectMeter"));
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listMeters"));
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("editMeterId"));
    auto *problem = dialog.findChild<QLabel *>(QStringLiteral("labelProblem"));
    auto *rate = dialog.findChild<QDoubleSpinBox *>(QStringLiteral("spinRate"));
    auto *wavelength = dialog.findChild<QSpinBox *>(QStringLiteral("spinWavelength"));
    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(list && edit && problem && rate && wavelength && buttons);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);

    QStringList offered;
    for (int i = 0; i < list->count(); ++i)
        offered << list->item(i)->data(Qt::UserRole).toString();
    QCOMPARE(offered,
             (QStringList{"n774x", "odd", "pm100", "virtual", "pm100@/nonexistent/ttyACM0"}));

    // The KV930 set takes neither rate nor wavelength.
    dialog.setSelection(MeterId::fromString(QStringLiteral("virtual")), MeterOptions());
    QVERIFY(ok->isEnabled());
    QVERIFY(!rate->isEnabled() && !wavelength->isEnabled());
    QCOMPARE(rate->value(), 5.0);
    QCOMPARE(wavelength->text(), QStringLiteral("the meter's own"));

    // A detected meter, picked from the list, whose port is gone by now.
    list->setCurrentRow(4);
    QCOMPARE(edit->text(), QStringLiteral("pm100@/nonexistent/ttyACM0"));
    QVERIFY(ok->isEnabled() && rate->isEnabled() && wavelength->isEnabled());
    QVERIFY2(problem->text().contains(QLatin1String("is not there now")),
             qPrintable(problem->text()));

    // Typed: refused with a reason, then accepted.
    QTest::keyClicks(edit, QStringLiteral("#2"));
    QVERIFY(!ok->isEnabled());
    QVERIFY2(problem->text().contains(QLatin1String("one channel only")),
             qPrintable(problem->text()));
    edit->setText(QStringLiteral("pm 100"));
    QVERIFY(!ok->isEnabled());
    QVERIFY(problem->text().contains(QLatin1String("not a driver name")));
    edit->setText(QStringLiteral("n774x@tcp://127.0.0.1#3"));
    QVERIFY(ok->isEnabled());
    QVERIFY(problem->text().isEmpty());
    rate->setValue(2.5);
    wavelength->setValue(1310);

    ok->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.meterId().toString(), QStringLiteral("n774x@tcp://127.0.0.1:5025#3"));
    QCOMPARE(dialog.options().readingsPerSecond, 2.5);
    QCOMPARE(dialog.options().wavelengthNm, 1310);
}

QTEST_MAIN(TestDlgSelectMeter)
#include "tst_dlgselectmeter.moc"
