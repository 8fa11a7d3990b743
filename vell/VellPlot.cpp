#include "vell/VellPlot.h"

#include "vell/VellZoomer.h"

#include <QDebug>
#include <QPen>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_panner.h>
#include <qwt_scale_div.h>

VellPlot::VellPlot(QWidget* parent) : QwtPlot(parent)
{
    initGrid();
    initZoomer();
    setLegendEnabled(true);
    setAutoReplot(true);
}

VellPlot::~VellPlot()
{
    // QwtPlot's destructor detaches the remaining items, which reports legend
    // changes; this part of the object is gone by then.
    disconnect(legendSync_);
    delete grid_;
    clear();
    delete zoomer_;
    delete panner_;
    insertLegend(nullptr);
}

void VellPlot::initGrid()
{
    grid_ = new QwtPlotGrid;
    grid_->setMajorPen(QPen(QBrush(QColor(200, 200, 200)), 0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    grid_->attach(this);
}

void VellPlot::initZoomer()
{
    plotLayout()->setAlignCanvasToScales(true);
    setZoomer(new VellZoomer(canvas()));

    panner_ = new QwtPlotPanner(canvas());
    panner_->setAxisEnabled(QwtPlot::yRight, false);
    panner_->setMouseButton(Qt::MiddleButton, Qt::NoModifier);
    connect(panner_, &QwtPanner::panned, this, &VellPlot::holdPannedView);
}

// A pan from the zoom base becomes a zoom level of its own: the view stays
// where the user put it instead of following the data, and stepping out
// returns to the base.
void VellPlot::holdPannedView()
{
    if (!zoomer_ || zoomer_->zoomRectIndex() != 0)
        return;
    const QwtScaleDiv& x = axisScaleDiv(zoomer_->xAxis());
    const QwtScaleDiv& y = axisScaleDiv(zoomer_->yAxis());
    zoomer_->zoom(QRectF(x.lowerBound(), y.lowerBound(), x.range(), y.range()).normalized());
}

void VellPlot::setZoomer(QwtPlotZoomer* zoomer)
{
    delete zoomer_;
    zoomer_ = zoomer;
    if (!zoomer_)
        return;
    // Right click: one zoom level out; Ctrl + right click: back to the zoom base.
    zoomer_->setMousePattern(QwtEventPattern::MouseSelect2, Qt::RightButton, Qt::ControlModifier);
    zoomer_->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton);
}

void VellPlot::setLegendEnabled(bool on)
{
    if (on && !legend()) {
        auto* legend = new QwtLegend(this);
        legend->setDefaultItemMode(QwtLegendData::Checkable);
        insertLegend(legend, QwtPlot::RightLegend, -1.0);
        connect(legend, &QwtLegend::checked, this, [this](const QVariant& itemInfo, bool checked, int) {
            if (QwtPlotItem* item = infoToItem(itemInfo))
                onLegendChecked(item, checked);
        });
        // Must run after the new legend has built an entry, which Qwt always
        // creates unchecked, so it is connected after the legend.
        disconnect(legendSync_);
        legendSync_ =
            connect(this, &QwtPlot::legendDataChanged, this,
                    [this](const QVariant& itemInfo, const QList<QwtLegendData>&) { syncLegendCheck(itemInfo); });
    } else if (!on && legend()) {
        disconnect(legendSync_);
        insertLegend(nullptr);
    }
}

// A curve hidden through its legend entry stays hidden when it is detached and
// attached again; its new entry must then show as checked.
void VellPlot::syncLegendCheck(const QVariant& itemInfo)
{
    auto* legendWidget = qobject_cast<QwtLegend*>(legend());
    QwtPlotItem* item = infoToItem(itemInfo);
    if (!legendWidget || !item || item->plot() != this)
        return;
    if (auto* label = qobject_cast<QwtLegendLabel*>(legendWidget->legendWidget(itemInfo)))
        label->setChecked(!item->isVisible());
}

void VellPlot::onLegendChecked(QwtPlotItem* plotItem, bool on)
{
    plotItem->setVisible(!on);
    qDebug().noquote() << QStringLiteral("onLegendChecked(%1, %2)")
                              .arg(plotItem->title().text(), on ? QStringLiteral("true") : QStringLiteral("false"));
    if (autoReplot())
        replot();
}

bool VellPlot::hasCurve(int key) const
{
    return curves.contains(key);
}

QwtPlotCurve* VellPlot::curve(int key) const
{
    return curves.value(key, nullptr);
}

bool VellPlot::isCurveAttached(int key) const
{
    const QwtPlotCurve* c = curve(key);
    return c && c->plot();
}

void VellPlot::removeAllCurves()
{
    for (QwtPlotCurve* c : qAsConst(curves)) {
        if (c->plot())
            c->detach();
        delete c;
    }
    curves.clear();
}

void VellPlot::clear()
{
    removeAllCurves();
    detachItems(QwtPlotItem::Rtti_PlotCurve, true);
    detachItems(QwtPlotItem::Rtti_PlotMarker, true);
}

bool VellPlot::followDataUnlessZoomed()
{
    if (!zoomer_ || zoomer_->zoomRectIndex() != 0)
        return false;
    setAxisAutoScale(QwtPlot::yLeft);
    setAxisAutoScale(QwtPlot::xBottom);
    zoomer_->setZoomBase(true); // replots to get the new scales
    return true;
}
