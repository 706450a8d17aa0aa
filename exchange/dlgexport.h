#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QDialogButtonBox;
class QGridLayout;
class QRadioButton;
class QVBoxLayout;

// The form of the export chooser, laid out in code the way the form compiler
// would generate it.
class Ui_dlgExport
{
public:
    QGridLayout *gridLayout_2 = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QRadioButton *rbTable = nullptr;
    QRadioButton *rbXlsx = nullptr;
    QRadioButton *rbChart = nullptr;
    QRadioButton *rbPdf = nullptr;
    QRadioButton *rbCsv = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    void setupUi(QDialog *dlgExport);
    void retranslateUi(QDialog *dlgExport);
};

namespace Ui {
class dlgExport : public Ui_dlgExport
{
};
} // namespace Ui

// Asks which export to make: 0 = spreadsheet ("Table(XLS)"), 1 = chart
// picture ("Chart(JPG)"), 2 = PDF, 3 = CSV file of the readings ("CSV"),
// 4 = Excel workbook ("Excel workbook (.xlsx)", below the .xls choice). A new dialog always starts
// on the spreadsheet. The path is handed in by the caller and read back; the dialog shows no field
// for it and never changes it.
class dlgExport : public QDialog
{
    Q_OBJECT
public:
    explicit dlgExport(QWidget *parent = nullptr);
    ~dlgExport() override;

    int exportKind() const { return m_exportKind; }
    void setPath(const QString &path) { m_path = path; }
    QString path() const { return m_path; }

private slots:
    void on_rbTable_toggled(bool checked);
    void on_rbXlsx_toggled(bool checked);
    void on_rbChart_toggled(bool checked);
    void on_rbPdf_toggled(bool checked);
    void on_rbCsv_toggled(bool checked);

private:
    std::unique_ptr<Ui::dlgExport> ui;
    int m_exportKind = 0;
    QString m_path;
};
