#pragma once

#include <QRect>
#include <QString>

// One column of the PDF report: its header text and its share of the table
// width. The rectangle is carried along for callers but the report does not
// use it.
struct ReportColumn
{
    QString title;
    QRect rect;
    int weight = 0;
};
