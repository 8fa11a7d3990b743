#pragma once
// Rectangle zoomer of the vell plots: Qwt's zoomer with a coordinate read-out
// that follows the mouse over the canvas at all times.

#include <qwt_plot_zoomer.h>

class VellZoomer : public QwtPlotZoomer {
public:
    explicit VellZoomer(QWidget* canvas);

protected:
    // "x, y" with six decimals on a translucent white box.
    QwtText trackerTextF(const QPointF& pos) const override;
};
