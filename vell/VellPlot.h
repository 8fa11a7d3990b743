#pragma once
// Common base of the vell plots: a QwtPlot ready for interactive inspection of
// curves, with a dotted grid, a rectangle zoomer with an always-on coordinate
// read-out, a middle-button panner and a checkable legend on the right whose
// checked entries hide their curves. Curves are kept under integer keys so that
// a subclass can reach the curve of a channel directly.

#include <QMap>
#include <qwt_plot.h>

class QwtPlotCurve;
class QwtPlotGrid;
class QwtPlotItem;
class QwtPlotPanner;
class QwtPlotZoomer;

class VellPlot : public QwtPlot {
    Q_OBJECT

public:
    explicit VellPlot(QWidget* parent = nullptr);
    ~VellPlot() override;

    bool hasCurve(int key) const;
    QwtPlotCurve* curve(int key) const;
    bool isCurveAttached(int key) const;

    virtual void initZoomer();
    // Deletes the current zoomer and takes ownership of zoomer.
    void setZoomer(QwtPlotZoomer* zoomer);
    QwtPlotZoomer* zoomer() const { return zoomer_; }
    QwtPlotPanner* panner() const { return panner_; }

    void setLegendEnabled(bool on);

    // While the user is not zoomed in (nor panned), the axes follow the data
    // and the new scales become the zoom base; zooming leaves explicit scales
    // behind.
    // Returns whether it replotted (it does when it follows the data).
    bool followDataUnlessZoomed();

    // Detaches and deletes every curve of the map.
    virtual void removeAllCurves();

public slots:
    // Deletes all curves (detached ones too) and markers; grid and legend stay.
    virtual void clear();

protected slots:
    void onLegendChecked(QwtPlotItem* plotItem, bool on);

protected:
    QMap<int, QwtPlotCurve*> curves;

private:
    void initGrid();
    void holdPannedView();
    void syncLegendCheck(const QVariant& itemInfo);

    QwtPlotGrid* grid_ = nullptr;
    QwtPlotZoomer* zoomer_ = nullptr;
    QwtPlotPanner* panner_ = nullptr;
    QMetaObject::Connection legendSync_;
};
