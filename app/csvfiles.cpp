// The active item's readings to a CSV file, and CSV files of this program
// back into a new item.
#include "widget.h"

#include "csvreader.h"
#include "csvwriter.h"
#include "datamodel.h"
#include "importrow.h"
#include "judge.h"
#include "prompt.h"
#include "widgetform.h"

#include <QFileInfo>

void Widget::exportCsv()
{
    QString fileName = m_prompt->getSaveFileName(this, tr("Export the datas to a CSV file."),
                                                 QString(), tr("CSV File(*.csv)"));
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".csv");
    const analysis::Judge &j = judge();
    const ReadingStore *store = dataModel->store();
    auto derived = [&j, store](int index) {
        const analysis::Sample sample = analysis::sampleAt(*store, index);
        csv::Derived d;
        d.verdict = analysis::verdictText(j.verdict(sample, &d.lossDB));
        return d;
    };
    QString error;
    if (csv::writeReadings(fileName, *dataModel, derived, &error)) {
        m_prompt->information(this, tr("The datas is exported successfully."));
    } else {
        qWarning("CSV export failed: %s", qPrintable(error));
        m_prompt->information(this, tr("The datas is exported failed."));
    }
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
    if (activeItem && activeItem->type() == ItemData::Import)
        activeItem->addReadings(std::move(file.readings));
    refreshViews();
    m_prompt->information(this, tr("The datas is imported successfully."));
}
