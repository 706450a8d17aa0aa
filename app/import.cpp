// Import of a spreadsheet (.xls or .xlsx) or a CSV file into a new item.
#include "widget.h"

#include "csvreader.h"
#include "datamodel.h"
#include "dmmchart.h"
#include "fileformat.h"
#include "importrow.h"
#include "prompt.h"
#include "reading.h"
#include "widgetform.h"
#include "xlsreader.h"

#include <QPersistentModelIndex>
#include <QProgressDialog>
#include <QStandardItem>

#include <algorithm>
#include <utility>

namespace {
// The progress of a long import: the dialog shows once the import has run
// longer than the delay, and its Cancel stops the reading. Fed by the readers
// with bytes done of total.
class ImportProgress
{
public:
    ImportProgress(QWidget *parent, int delayMs)
        : m_dialog(Widget::tr("Importing..."), Widget::tr("Cancel"), 0, Steps, parent)
    {
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(delayMs);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setValue(0);
    }
    ImportProgress(const ImportProgress &) = delete;
    ImportProgress &operator=(const ImportProgress &) = delete;

    bool operator()(qint64 done, qint64 total)
    {
        const int value = total > 0 ? int(std::clamp<qint64>(done * Steps / total, 0, Steps)) : 0;
        if (value != m_dialog.value())
            m_dialog.setValue(value); // shows the dialog once it is due
        else if (m_dialog.isVisible())
            QCoreApplication::processEvents(); // so that Cancel can be pressed
        return !m_dialog.wasCanceled();
    }
    // The dialog goes before any message box appears, and stays away: a
    // reset also stops the timer that would show it later.
    void finish()
    {
        m_dialog.hide();
        m_dialog.reset();
    }

private:
    static constexpr int Steps = 1000;
    QProgressDialog m_dialog;
};

// "The datas is imported failed." and the reason, as a sentence of its own.
QString importFailedText(QString reason)
{
    QString text = Widget::tr("The datas is imported failed.");
    reason = reason.trimmed();
    if (reason.isEmpty())
        return text;
    reason[0] = reason.at(0).toUpper();
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    return text + QLatin1Char('\n') + reason;
}
} // namespace

void Widget::on_actionImport_triggered()
{
    importSpreadsheet();
}

void Widget::importSpreadsheet()
{
    const QString fileName =
        m_prompt->getOpenFileName(this, tr("Import the datas from a excel file."), QString(),
                                  tr("Excel File(*.xls *.xlsx);;CSV File(*.csv)"));
    if (fileName.isEmpty())
        return;
    importFile(fileName);
}

void Widget::importFile(const QString &fileName)
{
    if (fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        importCsv(fileName);
        return;
    }
    if (!xls::readerAvailable()) {
        m_prompt->information(
            this, tr("The datas is imported failed, your computer may not have installed excel."));
        return;
    }

    ui->tvItems->setEnabled(false);
    ItemTree &tree = m_recording->tree();
    ItemData *const previous = activeItemData();
    const QPersistentModelIndex previousCurrent = ui->tvItems->currentIndex();
    const QString name = nextImportName(itemNames());
    ItemData *item = nullptr;
    // The item is made with the first row, so that a file that is no
    // workbook makes none; rows go into it in batches as they are read (and
    // so into the journal: a killed import keeps what it had read).
    auto makeItem = [&] {
        newItem(name, ItemData::Import);
        applyChartUnitMode(ui->cbbChartUnit->currentText());
        item = activeItemData();
    };
    constexpr int BatchRows = 4096;
    ReadingStore batch;
    auto handOver = [&] {
        if (item && !batch.isEmpty())
            tree.appendReadings(item, std::exchange(batch, ReadingStore()));
    };
    ImportProgress progress(this, m_progressDelayMs);
    const xls::ReadSummary read = exchange::readWorkbookTable(
        fileName,
        [&](const QVariantList &cells) {
            if (!item)
                makeItem();
            batch.append(fieldsOfRow(cells));
            if (batch.size() >= BatchRows)
                handOver();
        },
        std::ref(progress));
    handOver();
    progress.finish();

    if (read.status != xls::ReadStatus::Ok) {
        // A failure or a cancel part way leaves no half-imported item behind:
        // the new item goes again (from the journal too) and the item that
        // was active before is again.
        if (read.status != xls::ReadStatus::Cancelled)
            qWarning("Spreadsheet import failed: %s", qPrintable(read.errorMessage));
        if (item) {
            tree.deleteItem(item);
            if (tree.holds(previous))
                itemSetToActive(rowOf(previous));
            if (previousCurrent.isValid())
                makeCurrent(previousCurrent);
        }
        ui->tvItems->setEnabled(true);
        if (read.status != xls::ReadStatus::Cancelled)
            m_prompt->information(this, importFailedText(read.errorMessage));
        return;
    }

    if (!item)
        makeItem(); // a sheet holding only its header row
    ui->tvItems->setEnabled(true);
    refreshViews();
    m_prompt->information(this, tr("The datas is imported successfully."));
}

void Widget::importCsv(const QString &fileName)
{
    ui->tvItems->setEnabled(false);
    csv::ReadResult file;
    {
        ImportProgress progress(this, m_progressDelayMs);
        file = csv::readReadings(fileName, 1 << 20, std::ref(progress));
    }
    ui->tvItems->setEnabled(true);
    if (file.cancelled)
        return; // no item, nothing said
    if (!file.ok) {
        // No item is made of a file that could not be read whole.
        qWarning("CSV import failed: %s", qPrintable(file.errorMessage));
        m_prompt->information(this, importFailedText(file.errorMessage));
        return;
    }
    newItem(nextImportName(itemNames()), ItemData::Import);
    applyChartUnitMode(ui->cbbChartUnit->currentText());
    ItemData *item = activeItemData();
    if (item && item->type() == ItemData::Import)
        m_recording->tree().appendReadings(item, std::move(file.readings));
    refreshViews();
    m_prompt->information(this, tr("The datas is imported successfully."));
}
