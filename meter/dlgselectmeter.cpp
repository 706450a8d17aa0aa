#include "dlgselectmeter.h"

#include "metercatalogue.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace {
template <typename Widget> Widget *make(QDialog *dialog, const char *name)
{
    auto *widget = new Widget(dialog);
    widget->setObjectName(QLatin1String(name));
    return widget;
}
} // namespace

void Ui::DlgSelectMeter::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("DlgSelectMeter"));
    dialog->resize(520, 380);

    gridLayout = make<QGridLayout>(dialog, "gridLayout");

    labelMeters = make<QLabel>(dialog, "labelMeters");
    gridLayout->addWidget(labelMeters, 0, 0, 1, 3);

    listMeters = make<QListWidget>(dialog, "listMeters");
    gridLayout->addWidget(listMeters, 1, 0, 1, 3);

    labelMeterId = make<QLabel>(dialog, "labelMeterId");
    gridLayout->addWidget(labelMeterId, 2, 0, 1, 1);

    editMeterId = make<QLineEdit>(dialog, "editMeterId");
    gridLayout->addWidget(editMeterId, 2, 1, 1, 2);

    labelProblem = make<QLabel>(dialog, "labelProblem");
    labelProblem->setWordWrap(true);
    gridLayout->addWidget(labelProblem, 3, 1, 1, 2);

    labelRate = make<QLabel>(dialog, "labelRate");
    gridLayout->addWidget(labelRate, 4, 0, 1, 1);

    spinRate = make<QDoubleSpinBox>(dialog, "spinRate");
    spinRate->setRange(0.1, 50.0);
    spinRate->setDecimals(1);
    spinRate->setValue(5.0);
    gridLayout->addWidget(spinRate, 4, 1, 1, 1);

    labelWavelength = make<QLabel>(dialog, "labelWavelength");
    gridLayout->addWidget(labelWavelength, 5, 0, 1, 1);

    spinWavelength = make<QSpinBox>(dialog, "spinWavelength");
    spinWavelength->setRange(0, 20000);
    gridLayout->addWidget(spinWavelength, 5, 1, 1, 1);

    btnRefresh = make<QPushButton>(dialog, "btnRefresh");
    gridLayout->addWidget(btnRefresh, 6, 0, 1, 1);

    buttonBox = make<QDialogButtonBox>(dialog, "buttonBox");
    buttonBox->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    gridLayout->addWidget(buttonBox, 6, 1, 1, 2);

    gridLayout->setColumnStretch(2, 1);
    labelMeterId->setBuddy(editMeterId);
    labelRate->setBuddy(spinRate);
    labelWavelength->setBuddy(spinWavelength);

    retranslateUi(dialog);
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui::DlgSelectMeter::retranslateUi(QDialog *dialog)
{
    auto tr = [](const char *text) { return QCoreApplication::translate("DlgSelectMeter", text); };
    dialog->setWindowTitle(tr("Select Meter"));
    labelMeters->setText(tr("Drivers and meters found now:"));
    labelMeterId->setText(tr("&Meter:"));
    editMeterId->setPlaceholderText(tr("DRIVER[@ADDRESS][#CHANNEL], e.g. n774x@tcp://host:5025#1"));
    labelRate->setText(tr("&Readings per second:"));
    labelWavelength->setText(tr("&Wavelength:"));
    spinWavelength->setSuffix(tr(" nm"));
    spinWavelength->setSpecialValueText(tr("the meter's own"));
    btnRefresh->setText(tr("R&efresh"));
}

DlgSelectMeter::DlgSelectMeter(const MeterCatalogue &catalogue, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::DlgSelectMeter>()), m_catalogue(catalogue)
{
    ui->setupUi(this);
    fillList();
    on_editMeterId_textChanged(ui->editMeterId->text());
}

DlgSelectMeter::~DlgSelectMeter() = default;

void DlgSelectMeter::fillList()
{
    ui->listMeters->clear();
    auto add = [this](const QString &meterId, const QString &description) {
        auto *item = new QListWidgetItem(
            description.isEmpty() ? meterId
                                  : QStringLiteral("%1  \u2014  %2").arg(meterId, description),
            ui->listMeters);
        item->setData(Qt::UserRole, meterId);
    };
    for (const MeterDriverInfo &d : m_catalogue.drivers()) {
        add(d.name, d.needsAddress() ? tr("%1 (the first one found, or an address: %2)")
                                           .arg(d.description, d.transportText())
                                     : d.description);
    }
    for (const DetectedMeter &m : m_catalogue.detect(true))
        add(m.meterId.toString(), m.description);
}

void DlgSelectMeter::setSelection(const MeterId &meterId, const MeterOptions &options)
{
    m_options = options;
    ui->spinRate->setValue(options.readingsPerSecond);
    ui->spinWavelength->setValue(options.wavelengthNm);
    ui->editMeterId->setText(meterId.toString());
}

MeterId DlgSelectMeter::meterId() const
{
    return MeterId::fromString(ui->editMeterId->text());
}

MeterOptions DlgSelectMeter::options() const
{
    MeterOptions options = m_options;
    options.readingsPerSecond = ui->spinRate->value();
    options.wavelengthNm = ui->spinWavelength->value();
    return options;
}

void DlgSelectMeter::on_btnRefresh_clicked()
{
    fillList();
    on_editMeterId_textChanged(ui->editMeterId->text());
}

void DlgSelectMeter::on_listMeters_currentItemChanged(QListWidgetItem *current, QListWidgetItem *)
{
    if (current)
        ui->editMeterId->setText(current->data(Qt::UserRole).toString());
}

void DlgSelectMeter::on_editMeterId_textChanged(const QString &text)
{
    QString problem;
    MeterId meterId = MeterId::fromString(text, &problem);
    const bool valid = meterId.isValid() && m_catalogue.validate(meterId, &problem);
    const MeterDriverInfo *driver = valid ? m_catalogue.driver(meterId.driver) : nullptr;
    if (valid && !m_catalogue.isPresent(meterId))
        problem = meterId.address.kind == MeterAddress::None
                      ? tr("No %1 is connected now.").arg(meterId.driver)
                      : tr("%1 is not there now.").arg(meterId.address.text);
    ui->labelProblem->setText(text.trimmed().isEmpty() ? QString() : problem);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(valid);
    ui->spinRate->setEnabled(driver && driver->takesRate);
    ui->spinWavelength->setEnabled(driver && driver->takesWavelength);
}
