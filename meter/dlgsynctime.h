#pragma once

#include <QDateTime>
#include <QDialog>

#include <memory>

QT_BEGIN_NAMESPACE
class QDateTimeEdit;
class QGridLayout;
class QPushButton;
QT_END_NAMESPACE

namespace Ui {
class dlgSyncTime;
}

// Non-modal dialog that sends an editable date and time to the meter's clock.
// Every press of its button sends the current value; the dialog stays open.
class dlgSyncTime : public QDialog
{
    Q_OBJECT
public:
    explicit dlgSyncTime(const QDateTime &dt, QWidget *parent = nullptr);
    ~dlgSyncTime() override;

signals:
    void syncTime(QDateTime dt);

public slots:
    void on_btnSync_clicked();

private:
    std::unique_ptr<Ui::dlgSyncTime> ui;
};

namespace Ui {
// The dialog's form, built in code.
class dlgSyncTime
{
public:
    QGridLayout *gridLayout = nullptr;
    QDateTimeEdit *dateTimeEdit = nullptr;
    QPushButton *btnSync = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};
} // namespace Ui
