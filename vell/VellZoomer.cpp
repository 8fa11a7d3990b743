#include "vell/VellZoomer.h"

#include <QBrush>

VellZoomer::VellZoomer(QWidget* canvas) : QwtPlotZoomer(canvas, true)
{
    setTrackerMode(QwtPicker::AlwaysOn);
}

QwtText VellZoomer::trackerTextF(const QPointF& pos) const
{
    QwtText text = QwtPlotZoomer::trackerTextF(pos);
    QColor background(Qt::white);
    background.setAlpha(200);
    text.setBackgroundBrush(QBrush(background));
    text.setText(QString::number(pos.x(), 'f', 6) + ", " + QString::number(pos.y(), 'f', 6));
    return text;
}
