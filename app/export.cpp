// Export of the active item: spreadsheet, chart picture or PDF report.
#include "widget.h"

#include "datamodel.h"
#include "dlgexport.h"
#include "dmmchart.h"
#include "pdfreport.h"
#include "prompt.h"
#include "widgetform.h"
#include "xlswriter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTime>

namespace {
// Shows the wait cursor for its lifetime, so that every way out restores it.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

const QStringList &sheetHeaders()
{
    static const QStringList headers = {QStringLiteral("No."), QStringLiteral("Time"),
                                        QStringLiteral("Value"), QStringLiteral("Unit"),
                                        QStringLiteral("WaveLength")};
    return headers;
}
} // namespace

void Widget::delayMs(int ms)
{
    const QTime until = QTime::currentTime().addMSecs(ms);
    QElapsedTimer guard; // QTime wraps at midnight; never wait longer than asked.
    guard.start();
    while (QTime::currentTime() < until && guard.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

void Widget::on_actionExport_triggered()
{
    syncViews(); // the files show every reading received so far
    dlgExport dialog;
    dialog.setPath(sceneFileName);
    const int result = m_prompt->exec(dialog);

    WaitCursor waitCursor;
    QCoreApplication::processEvents(QEventLoop::AllEvents, m_eventPassMs);
    if (result != QDialog::Accepted)
        return;

    switch (dialog.exportKind()) {
    case 0:
        exportSpreadsheet();
        break;
    case 1:
        exportChartPicture();
        break;
    case 2: {
        // Show every tab once so that each view has been laid out before the report.
        const int current = ui->tabWidget->currentIndex();
        for (int tab = 0; tab < ui->tabWidget->count(); ++tab) {
            ui->tabWidget->setCurrentIndex(tab);
            delayMs(10);
        }
        ui->tabWidget->setCurrentIndex(current);
        const QString path = dialog.path();
        if (QFileInfo::exists(path))
            sceneFileName = path;
        exportPdf();
        break;
    }
    default:
        break;
    }
}

void Widget::exportChartPicture()
{
    const QString fileName = m_prompt->getSaveFileName(this, tr("Export the chart to a picture."),
                                                       QStringLiteral("."), tr("JPG File(*.jpg)"));
    if (fileName.isEmpty())
        return;
    if (!ui->chart->isVisible() && isVisible()) {
        // A tab page that was never shown has not been laid out: show the chart
        // once so that the picture is composed at its real size.
        const int current = ui->tabWidget->currentIndex();
        ui->tabWidget->setCurrentWidget(ui->tabChart);
        delayMs(10);
        ui->tabWidget->setCurrentIndex(current);
    }
    if (!ui->chart->saveImage(fileName))
        m_prompt->information(this, tr("The chart picture could not be saved."));
    else
        noteActiveItemExported();
}

void Widget::exportSpreadsheet()
{
    const QString fileName = m_prompt->getSaveFileName(
        this, tr("Export the datas to a excel file."), QString(), tr("Excel File(*.xls)"));
    if (fileName.isEmpty())
        return;
    if (!xls::writerAvailable()) {
        m_prompt->information(
            this, tr("The datas is exported failed, your computer may not have installed excel."));
        return;
    }
    QString error;
    if (xls::writeTable(QDir::toNativeSeparators(fileName), sheetHeaders(), *dataModel, &error)) {
        noteActiveItemExported();
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else {
        qWarning("Spreadsheet export failed: %s", qPrintable(error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}

void Widget::exportPdf()
{
    const QString fileName = m_prompt->getSaveFileName(this, tr("Export the datas to a pdf file."),
                                                       QString(), tr("PDF file(*.pdf)"));
    if (fileName.isEmpty())
        return;

    // A long report shows its progress, but only once it takes longer than a second.
    QProgressDialog progress(tr("Writing the report..."), tr("Cancel"), 0, dataModel->rowCount(),
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    auto onProgress = [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        return !progress.wasCanceled();
    };

    QString error;
    const bool ok = pdf::writeReport(fileName, *dataModel, reportColumns, onProgress, &error);
    progress.reset();
    if (ok) {
        noteActiveItemExported();
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else if (!progress.wasCanceled()) {
        qWarning("PDF export failed: %s", qPrintable(error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}
