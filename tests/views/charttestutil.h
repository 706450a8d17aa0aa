#pragma once

#include "chartpoint.h"
#include "dmmchart.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QVector>

#include <cmath>

namespace charttest {

inline QDateTime baseTime()
{
    return QDateTime(QDate(2024, 3, 5), QTime(10, 0, 0));
}

inline ChartPoint *makePoint(double value, int second = 0)
{
    const QString text = QString::number(value, 'f', 3);
    return new ChartPoint(value, text, baseTime().addSecs(second), -1, -1,
                          QStringLiteral("%1 mW").arg(text));
}

inline QList<ChartPoint *> makePoints(const QVector<double> &values)
{
    QList<ChartPoint *> points;
    for (int i = 0; i < values.size(); ++i)
        points.append(makePoint(values.at(i), i));
    return points;
}

// Mouse moves are sent straight to the widget: no real cursor is involved.
inline void moveTo(QWidget *w, const QPoint &pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

inline QImage render(DMMChart &chart)
{
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline bool isLineColour(QRgb c)
{
    return qRed(c) == 250 && qGreen(c) == 150 && qBlue(c) == 0;
}

inline bool isDark(QRgb c)
{
    return qGray(c) < 100;
}

// The chart's visible window drawn the plain way, one polyline vertex per
// finite point, on white: what the chart's reduced line must equal.
inline QImage onePolylineVertexPerPoint(const DMMChart &chart, const QVector<double> &values)
{
    QImage reference(chart.size(), QImage::Format_RGB32);
    reference.fill(Qt::white);
    QPainter painter(&reference);
    painter.setPen(QPen(QColor(250, 150, 0), 1));
    QPolygon polyline;
    const int left = chart.plotRect().left();
    for (int i = chart.firstVisible(); i <= chart.lastVisible(); ++i) {
        if (!std::isfinite(values[i]))
            continue;
        const int k = i - chart.firstVisible();
        polyline << QPoint(int(k * chart.pixelsPerPoint() + left),
                           int(chart.zeroLineY() - chart.pixelsPerUnit() * values[i]));
    }
    painter.drawPolyline(polyline);
    return reference;
}

// Pixels where one image shows the line colour and the other does not.
inline int lineDifferences(const QImage &a, const QImage &b)
{
    int differences = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differences += isLineColour(a.pixel(x, y)) != isLineColour(b.pixel(x, y));
    return differences;
}

} // namespace charttest
