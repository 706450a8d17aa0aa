#include "dlgexport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

class TestDlgExport : public QObject
{
    Q_OBJECT
private slots:
    void newDialogStartsOnTable();
    void formMatchesItsLayout();
    void togglingSetsKind_data();
    void togglingSetsKind();
    void pathRoundTrip();
    void buttonsCloseTheDialog_data();
    void buttonsCloseTheDialog();
    void nextDialogStartsOnTableAgain();
};

void TestDlgExport::newDialogStartsOnTable()
{
    dlgExport dialog;
    QCOMPARE(dialog.exportKind(), 0);
    auto *rbTable = dialog.findChild<QRadioButton *>(QStringLiteral("rbTable"));
    QVERIFY(rbTable);
    QVERIFY(rbTable->isChecked());
    QVERIFY(!dialog.findChild<QRadioButton *>(QStringLiteral("rbChart"))->isChecked());
    QVERIFY(!dialog.findChild<QRadioButton *>(QStringLiteral("rbPdf"))->isChecked());
    QVERIFY(dialog.path().isEmpty());
}

void TestDlgExport::formMatchesItsLayout()
{
    dlgExport dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("dlgExport"));
    QCOMPARE(dialog.size(), QSize(264, 148));
    QVERIFY(dialog.windowTitle().isEmpty());

    auto *grid = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout_2"));
    auto *column = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(grid && column && buttons);
    QCOMPARE(dialog.layout(), grid);
    QCOMPARE(grid->itemAtPosition(0, 0)->layout(), column);
    QCOMPARE(grid->itemAtPosition(1, 0)->widget(), buttons);
    QCOMPARE(column->contentsMargins().left(), 6);

    // The CSV choice comes after the three the chooser always had, the
    // .xlsx one beside the .xls one.
    const QStringList names{QStringLiteral("rbTable"), QStringLiteral("rbXlsx"),
                            QStringLiteral("rbChart"), QStringLiteral("rbPdf"),
                            QStringLiteral("rbCsv")};
    const QStringList texts{QStringLiteral("Table(XLS)"), QStringLiteral("Excel workbook (.xlsx)"),
                            QStringLiteral("Chart(JPG)"), QStringLiteral("PDF"),
                            QStringLiteral("CSV")};
    QCOMPARE(column->count(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        auto *button = qobject_cast<QRadioButton *>(column->itemAt(i)->widget());
        QVERIFY(button);
        QCOMPARE(button->objectName(), names.at(i));
        QCOMPARE(button->text(), texts.at(i));
    }
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void TestDlgExport::togglingSetsKind_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<int>("kind");

    QTest::newRow("chart") << QStringList{QStringLiteral("rbChart")} << 1;
    QTest::newRow("pdf") << QStringList{QStringLiteral("rbPdf")} << 2;
    QTest::newRow("pdf then table")
        << QStringList{QStringLiteral("rbPdf"), QStringLiteral("rbTable")} << 0;
    QTest::newRow("chart then pdf")
        << QStringList{QStringLiteral("rbChart"), QStringLiteral("rbPdf")} << 2;
    QTest::newRow("table clicked again") << QStringList{QStringLiteral("rbTable")} << 0;
    QTest::newRow("csv then pdf") << QStringList{QStringLiteral("rbCsv"), QStringLiteral("rbPdf")}
                                  << 2;
    QTest::newRow("pdf then csv") << QStringList{QStringLiteral("rbPdf"), QStringLiteral("rbCsv")}
                                  << 3;
    QTest::newRow("xlsx") << QStringList{QStringLiteral("rbXlsx")} << 4;
    QTest::newRow("xlsx then table")
        << QStringList{QStringLiteral("rbXlsx"), QStringLiteral("rbTable")} << 0;
}

void TestDlgExport::togglingSetsKind()
{
    QFETCH(QStringList, clicks);
    QFETCH(int, kind);

    dlgExport dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const QString &name : clicks) {
        auto *button = dialog.findChild<QRadioButton *>(name);
        QVERIFY(button);
        // On the indicator: the button is wider than its text, and clicks beside
        // the text do not count.
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        QVERIFY(button->isChecked());
    }
    QCOMPARE(dialog.exportKind(), kind);
}

void TestDlgExport::pathRoundTrip()
{
    dlgExport dialog;
    const QString path = QStringLiteral("/home/user/reports/scene ä.pdf");
    dialog.setPath(path);
    QCOMPARE(dialog.path(), path);

    // Choosing an export does not touch the path.
    dialog.findChild<QRadioButton *>(QStringLiteral("rbPdf"))->click();
    QCOMPARE(dialog.path(), path);
    dialog.setPath(QString());
    QVERIFY(dialog.path().isEmpty());
}

void TestDlgExport::buttonsCloseTheDialog_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("result");

    QTest::newRow("ok") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
    QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
}

void TestDlgExport::buttonsCloseTheDialog()
{
    QFETCH(int, button);
    QFETCH(int, result);

    dlgExport dialog;
    dialog.setPath(QStringLiteral("kept.pdf"));
    // Answer the modal loop from inside it, as a user would.
    bool answered = false;
    QTimer::singleShot(0, &dialog, [&] {
        auto *active = qobject_cast<dlgExport *>(QApplication::activeModalWidget());
        if (!active)
            return;
        active->findChild<QRadioButton *>(QStringLiteral("rbChart"))->click();
        auto *box = active->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        box->button(QDialogButtonBox::StandardButton(button))->click();
        answered = true;
    });
    // Without an answer the dialog would wait forever; a second timer ends it.
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });

    QCOMPARE(dialog.exec(), result);
    QVERIFY(answered);
    QCOMPARE(dialog.exportKind(), 1);
    QCOMPARE(dialog.path(), QStringLiteral("kept.pdf"));
}

void TestDlgExport::nextDialogStartsOnTableAgain()
{
    {
        dlgExport first;
        first.findChild<QRadioButton *>(QStringLiteral("rbPdf"))->click();
        QCOMPARE(first.exportKind(), 2);
        first.accept();
    }
    dlgExport second;
    QCOMPARE(second.exportKind(), 0);
    QVERIFY(second.findChild<QRadioButton *>(QStringLiteral("rbTable"))->isChecked());
}

QTEST_MAIN(TestDlgExport)
#include "tst_dlgexport.moc"
