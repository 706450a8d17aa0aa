// Export of the active item: spreadsheet (.xls or .xlsx), chart picture, PDF report or CSV file.
#include "widget.h"

#include "datamodel.h"
#include "dlgexport.h"
#include "dmmchart.h"
#include "itemexport.h"
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

// The name with the chosen format's suffix unless it already ends with it:
// "trace 1.5" is no name of a .xls file, and the picture's format is told by
// its suffix.
QString withSuffix(const QString &fileName, const QString &suffix)
{
    if (fileName.endsWith(QLatin1Char('.') + suffix, Qt::CaseInsensitive))
        return fileName;
    return fileName.endsWith(QLatin1Char('.')) ? fileName + suffix
                                               : fileName + QLatin1Char('.') + suffix;
}

// Asks for a file name to save to, with the filter's suffix added when the
// name does not end with it. The file dialog asked about replacing the name as typed; a
// name that got its suffix here is asked about once more.
QString askSaveFileName(Prompt &prompt, QWidget *parent, const QString &caption, const QString &dir,
                        const QString &filter, const QString &suffix)
{
    const QString typed = prompt.getSaveFileName(parent, caption, dir, filter);
    if (typed.isEmpty())
        return typed;
    const QString fileName = withSuffix(typed, suffix);
    if (fileName != typed && QFileInfo::exists(fileName) &&
        prompt.question(parent, QString(),
                        Widget::tr("%1 already exists.\nDo you want to replace it?")
                            .arg(QFileInfo(fileName).fileName()),
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return QString();
    return fileName;
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
    case 3:
        exportCsv();
        break;
    case 4:
        exportXlsx();
        break;
    default:
        break;
    }
}

void Widget::exportChartPicture()
{
    const QString fileName =
        askSaveFileName(*m_prompt, this, tr("Export the chart to a picture."), QStringLiteral("."),
                        tr("JPG File(*.jpg)"), QStringLiteral("jpg"));
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
    // The picture shows what the chart holds, the table's rows.
    const int shown = dataModel->rowCount();
    if (!ui->chart->saveImage(fileName))
        m_prompt->information(this, tr("The chart picture could not be saved."));
    else
        noteActiveItemExported(shown);
}

void Widget::exportSpreadsheet()
{
    const QString fileName =
        askSaveFileName(*m_prompt, this, tr("Export the datas to a excel file."), QString(),
                        tr("Excel File(*.xls)"), QStringLiteral("xls"));
    if (fileName.isEmpty())
        return;
    if (!xls::writerAvailable()) {
        m_prompt->information(
            this, tr("The datas is exported failed, your computer may not have installed excel."));
        return;
    }
    const itemexport::Result result = itemexport::writeXls(fileName, *dataModel);
    if (result.ok) {
        noteActiveItemExported(result.written);
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else {
        qWarning("Spreadsheet export failed: %s", qPrintable(result.error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}

void Widget::exportXlsx()
{
    const QString fileName =
        askSaveFileName(*m_prompt, this, tr("Export the datas to an Excel workbook."), QString(),
                        tr("Excel Workbook(*.xlsx)"), QStringLiteral("xlsx"));
    if (fileName.isEmpty())
        return;
    const itemexport::Result result = itemexport::writeXlsx(fileName, *dataModel);
    if (result.ok) {
        noteActiveItemExported(result.written);
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else {
        qWarning("Workbook export failed: %s", qPrintable(result.error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}

void Widget::exportPdf()
{
    const QString fileName =
        askSaveFileName(*m_prompt, this, tr("Export the datas to a pdf file."), QString(),
                        tr("PDF file(*.pdf)"), QStringLiteral("pdf"));
    if (fileName.isEmpty())
        return;

    // A long report shows its progress, but only once it takes longer than a second.
    QProgressDialog progress(tr("Writing the report..."), tr("Cancel"), 0, dataModel->rowCount(),
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(m_progressDelayMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    // Taken from the dialog while it runs: resetting it forgets a cancel.
    auto onProgress = [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        return !progress.wasCanceled();
    };

    const itemexport::Result result = itemexport::writePdf(fileName, *dataModel, onProgress);
    // The dialog goes before any message box appears.
    progress.hide();
    progress.reset();
    if (result.ok) {
        noteActiveItemExported(result.written);
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else if (!result.cancelled) {
        qWarning("PDF export failed: %s", qPrintable(result.error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}

void Widget::exportCsv()
{
    const QString fileName =
        askSaveFileName(*m_prompt, this, tr("Export the datas to a CSV file."), QString(),
                        tr("CSV File(*.csv)"), QStringLiteral("csv"));
    if (fileName.isEmpty())
        return;
    const itemexport::Result result = itemexport::writeCsv(fileName, *dataModel, judge());
    if (result.ok) {
        noteActiveItemExported(result.written);
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else {
        qWarning("CSV export failed: %s", qPrintable(result.error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
}

void Widget::noteActiveItemExported(int rowsWritten)
{
    ItemData *active = activeItemData();
    if (!showsItem(active) || rowsWritten <= 0)
        return;
    // Up to the last reading the file holds: live readings go on arriving
    // while an export runs (a report's progress dialog turns the event loop).
    m_recording->noteExported(active, dataModel->readingIndex(rowsWritten - 1) + 1);
}
