#pragma once

#include "imeterdriver.h"
#include "meterid.h"

#include <QDialog>

#include <memory>

QT_BEGIN_NAMESPACE
class QDialogButtonBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;
QT_END_NAMESPACE

class MeterCatalogue;

namespace Ui {
class DlgSelectMeter;
}

// Chooses the meter: the drivers of the catalogue's folder and the meters
// detected now (Refresh looks again), or any ID typed, with the poll rate
// and the wavelength for drivers that take them. OK is offered only for a
// ID the catalogue accepts; the label under it says what is wrong, or that
// the meter is not there now.
class DlgSelectMeter : public QDialog
{
    Q_OBJECT
public:
    // The catalogue must outlive the dialog.
    explicit DlgSelectMeter(const MeterCatalogue &catalogue, QWidget *parent = nullptr);
    ~DlgSelectMeter() override;

    void setSelection(const MeterId &meterId, const MeterOptions &options);
    // The ID as chosen (not resolved: a bare "pm100" stays the first one
    // found at connect time) and the options set.
    MeterId meterId() const;
    MeterOptions options() const;

public slots:
    void on_btnRefresh_clicked();
    void on_editMeterId_textChanged(const QString &text);
    void on_listMeters_currentItemChanged(QListWidgetItem *current, QListWidgetItem *previous);

private:
    void fillList();

    std::unique_ptr<Ui::DlgSelectMeter> ui;
    const MeterCatalogue &m_catalogue;
    MeterOptions m_options;
};

namespace Ui {
// The dialog's form, built in code.
class DlgSelectMeter
{
public:
    QGridLayout *gridLayout = nullptr;
    QLabel *labelMeters = nullptr;
    QListWidget *listMeters = nullptr;
    QLabel *labelMeterId = nullptr;
    QLineEdit *editMeterId = nullptr;
    QLabel *labelProblem = nullptr;
    QLabel *labelRate = nullptr;
    QDoubleSpinBox *spinRate = nullptr;
    QLabel *labelWavelength = nullptr;
    QSpinBox *spinWavelength = nullptr;
    QPushButton *btnRefresh = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};
} // namespace Ui
