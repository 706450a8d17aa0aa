// Import of a spreadsheet into a new item.
#include "widget.h"

#include "dmmdata.h"
#include "importrow.h"
#include "prompt.h"
#include "widgetform.h"
#include "xlsreader.h"

void Widget::on_actionImport_triggered()
{
    importSpreadsheet();
}

void Widget::importSpreadsheet()
{
    const QString fileName = m_prompt->getOpenFileName(
        this, tr("Import the datas from a excel file."), QString(), tr("Excel File(*.xls)"));
    if (fileName.isEmpty())
        return;

    ui->tvItems->setEnabled(false);
    const xls::ReadResult sheet = xls::readRows(fileName);
    if (sheet.status == xls::ReadStatus::ReaderUnavailable) {
        ui->tvItems->setEnabled(true);
        m_prompt->information(
            this, tr("The datas is imported failed, your computer may not have installed excel."));
        return;
    }
    if (sheet.status == xls::ReadStatus::OpenFailed) {
        // Nothing readable: no item is made for it.
        qWarning("Spreadsheet import failed: %s", qPrintable(sheet.errorMessage));
        ui->tvItems->setEnabled(true);
        m_prompt->information(this, tr("The datas is imported failed."));
        return;
    }

    const QString name = nextImportName(itemNames());
    newItem(name, ItemData::Import);
    applyChartUnitMode(ui->cbbChartUnit->currentText());
    if (activeItem && activeItem->type() == ItemData::Import) {
        for (const QVariantList &row : sheet.rows) {
            if (DmmData *reading = readingFromRow(row))
                activeItem->addData(reading);
            journalNewReadings();
        }
    }
    if (sheet.skippedRows > 0)
        qWarning("Spreadsheet import: %d rows with fewer than five cells were skipped.",
                 sheet.skippedRows);

    ui->tvItems->setEnabled(true);
    refreshViews();
    if (sheet.status == xls::ReadStatus::ReadFailed) {
        qWarning("Spreadsheet import stopped early: %s", qPrintable(sheet.errorMessage));
        m_prompt->information(this, tr("The datas is imported failed."));
    } else {
        m_prompt->information(this, tr("The datas is imported successfully."));
    }
}
