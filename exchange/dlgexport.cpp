#include "dlgexport.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QRadioButton>
#include <QVBoxLayout>

void Ui_dlgExport::setupUi(QDialog *dlgExport)
{
    if (dlgExport->objectName().isEmpty())
        dlgExport->setObjectName(QStringLiteral("dlgExport"));
    dlgExport->resize(264, 148);

    gridLayout_2 = new QGridLayout(dlgExport);
    gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));

    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    // Only the left margin is set; -1 keeps the style's default for the others.
    verticalLayout->setContentsMargins(6, -1, -1, -1);

    rbTable = new QRadioButton(dlgExport);
    rbTable->setObjectName(QStringLiteral("rbTable"));
    rbTable->setChecked(true);
    verticalLayout->addWidget(rbTable);

    rbXlsx = new QRadioButton(dlgExport);
    rbXlsx->setObjectName(QStringLiteral("rbXlsx"));
    verticalLayout->addWidget(rbXlsx);

    rbChart = new QRadioButton(dlgExport);
    rbChart->setObjectName(QStringLiteral("rbChart"));
    verticalLayout->addWidget(rbChart);

    rbPdf = new QRadioButton(dlgExport);
    rbPdf->setObjectName(QStringLiteral("rbPdf"));
    verticalLayout->addWidget(rbPdf);

    rbCsv = new QRadioButton(dlgExport);
    rbCsv->setObjectName(QStringLiteral("rbCsv"));
    verticalLayout->addWidget(rbCsv);

    gridLayout_2->addLayout(verticalLayout, 0, 0, 1, 1);

    buttonBox = new QDialogButtonBox(dlgExport);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    gridLayout_2->addWidget(buttonBox, 1, 0, 1, 1);

    retranslateUi(dlgExport);
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, dlgExport, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dlgExport, &QDialog::reject);

    QMetaObject::connectSlotsByName(dlgExport);
}

void Ui_dlgExport::retranslateUi(QDialog *dlgExport)
{
    dlgExport->setWindowTitle(QString());
    rbTable->setText(QCoreApplication::translate("dlgExport", "Table(XLS)"));
    rbXlsx->setText(QCoreApplication::translate("dlgExport", "Excel workbook (.xlsx)"));
    rbChart->setText(QCoreApplication::translate("dlgExport", "Chart(JPG)"));
    rbPdf->setText(QCoreApplication::translate("dlgExport", "PDF"));
    rbCsv->setText(QCoreApplication::translate("dlgExport", "CSV"));
}

dlgExport::dlgExport(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::dlgExport>())
{
    ui->setupUi(this);
    m_exportKind = 0;
    ui->rbTable->setChecked(true);
}

dlgExport::~dlgExport() = default;

void dlgExport::on_rbTable_toggled(bool checked)
{
    if (checked)
        m_exportKind = 0;
}

void dlgExport::on_rbXlsx_toggled(bool checked)
{
    if (checked)
        m_exportKind = 4;
}

void dlgExport::on_rbChart_toggled(bool checked)
{
    if (checked)
        m_exportKind = 1;
}

void dlgExport::on_rbPdf_toggled(bool checked)
{
    if (checked)
        m_exportKind = 2;
}

void dlgExport::on_rbCsv_toggled(bool checked)
{
    if (checked)
        m_exportKind = 3;
}
