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

#include <QStandardItem>
#include <utility>

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
    const xls::ReadSummary read =
        exchange::readWorkbookTable(fileName, [&](const QVariantList &cells) {
            if (!item)
                makeItem();
            batch.append(fieldsOfRow(cells));
            if (batch.size() >= BatchRows)
                handOver();
        });
    handOver();

    if (read.status != xls::ReadStatus::Ok) {
        // A failure part way leaves no half-imported item behind: the new
        // item goes again and the item that was active before is again.
        qWarning("Spreadsheet import failed: %s", qPrintable(read.errorMessage));
        if (item) {
            tree.deleteItem(item);
            if (tree.holds(previous))
                itemSetToActive(rowOf(previous));
            if (previousCurrent.isValid())
                makeCurrent(previousCurrent);
        }
        ui->tvItems->setEnabled(true);
        m_prompt->information(this, tr("The datas is imported failed."));
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
    csv::ReadResult file = csv::readReadings(fileName);
    ui->tvItems->setEnabled(true);
    if (!file.ok) {
        // No item is made of a file that could not be read whole.
        qWarning("CSV import failed: %s", qPrintable(file.errorMessage));
        m_prompt->information(this, tr("The datas is imported failed.") + QLatin1Char('\n') +
                                        file.errorMessage);
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
