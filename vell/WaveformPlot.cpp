#include "vell/WaveformPlot.h"

#include "vell/VellCurve.h"
#include "vell/VellPointData.h"

#include <QPen>
#include <qwt_plot_zoomer.h>

WaveformPlot::WaveformPlot(QWidget* parent)
    : VellPlot(parent), palette{QColor(255, 150, 0), QColor(255, 0, 0),     QColor(255, 0, 190), QColor(110, 0, 190),
                                QColor(0, 100, 255), QColor(137, 137, 255), QColor(0, 200, 200), QColor(0, 190, 0)}
{
    setAxisAutoScale(QwtPlot::yLeft);
    setAxisAutoScale(QwtPlot::xBottom);
}

WaveformPlot::~WaveformPlot() = default;

void WaveformPlot::setData(const std::vector<WaveformData>& list)
{
    const bool replotWasOn = autoReplot();
    setAutoReplot(false);

    QMap<int, int> repeats; // records of each channel seen so far in this list
    QMap<int, bool> usedKeys;
    for (const WaveformData& record : list) {
        const int key = record.channel + palette.size() * repeats[record.channel]++;
        usedKeys.insert(key, true);

        QString title = QString::fromUtf8(record.name.data(), int(record.name.size()));
        if (title.isEmpty())
            title = tr("%1").arg(record.channel);

        QwtPlotCurve* c = curveForKey(key, title);
        if (!c->plot())
            c->attach(this);
        QVector<double> xs(int(record.points.size()));
        QVector<double> ys(xs.size());
        for (int i = 0; i < xs.size(); ++i) {
            xs[i] = record.points[size_t(i)].x();
            ys[i] = record.points[size_t(i)].y();
        }
        c->setData(new VellPointData(xs, ys)); // setSamples(xs, ys) with a faster bounding rectangle
        c->setTitle(title);
    }
    detachCurvesExcept(usedKeys);

    setAutoReplot(replotWasOn);
    followDataUnlessZoomed();
}

// The curve stored under key, created on first use with its lasting pen.
QwtPlotCurve* WaveformPlot::curveForKey(int key, const QString& title)
{
    if (hasCurve(key))
        return curve(key);
    const int n = palette.size();
    const QColor color = palette[((key % n) + n) % n]; // channels are never negative here, but stay safe
    auto* c = new VellCurve(title);
    c->setPen(QPen(QBrush(color), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    c->attach(this);
    curves.insert(key, c);
    return c;
}

void WaveformPlot::detachCurvesExcept(const QMap<int, bool>& usedKeys)
{
    for (auto it = curves.cbegin(); it != curves.cend(); ++it) {
        if (!usedKeys.contains(it.key()) && it.value()->plot())
            it.value()->detach();
    }
}
