#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <memory>

QT_BEGIN_NAMESPACE
class QGridLayout;
class QLabel;
class QProgressBar;
QT_END_NAMESPACE

namespace Ui {
class DlgDownload;
}

// Small progress dialog shown while the meter sends its stored readings.
// It closes itself when the position reaches the total, when finish() is
// called, or when nothing has happened for a while since it opened or since
// the last update (a watchdog, 3 s by default), so a meter that never answers
// or stops midway never leaves the dialog open for good.
class DlgDownload : public QDialog
{
    Q_OBJECT
public:
    explicit DlgDownload(QWidget *parent = nullptr);
    ~DlgDownload() override;

    // The watchdog's interval in milliseconds; it applies from the next update.
    void setWatchdogInterval(int ms);
    int watchdogInterval() const { return m_watchdogInterval; }

public slots:
    void updatePos(int total, int pos);
    // Ends the dialog from the event loop; also when called before it opens.
    void finish();

protected:
    void showEvent(QShowEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void restartWatchdog();

    std::unique_ptr<Ui::DlgDownload> ui;
    int m_timerId = 0;
    int m_watchdogInterval = 3000;
    bool m_finished = false;
    QElapsedTimer m_sinceRepaint;
};

namespace Ui {
// The dialog's form, built in code.
class DlgDownload
{
public:
    QGridLayout *gridLayout = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *label = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};
} // namespace Ui
