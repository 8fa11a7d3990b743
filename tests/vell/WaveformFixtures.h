#pragma once
// Realistic waveform lists and a plain Qwt plot of the same look, shared by the
// plot tests and the plot benchmark. The plain plot is what the waveform plot
// would be with Qwt's own curves: same grid, legend, pens and layout.

#include "datapath/SampleGenerator.h"
#include "vell/WaveformData.h"
#include "vell/WaveformPlot.h"

#include <QPen>
#include <QVector>
#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <vector>

// One board's event from the project's generator: 'channels' curves of
// 'samples' points named "serial:channel".
inline std::vector<WaveformData> realisticEvent(quint64 seed, int samples, int channels = 64)
{
    SampleGenerator::Options options;
    options.seed = seed;
    options.boards = 1;
    options.channels = channels;
    options.samples = samples;
    const EventData event = SampleGenerator(options).nextEvent();
    std::vector<WaveformData> list;
    for (const DeviceEvent& board : event.devices)
        for (const ChannelData& channel : board.channels)
            list.emplace_back(std::vector<double>(channel.samples.cbegin(), channel.samples.cend()),
                              std::to_string(board.serial) + ":" + std::to_string(channel.ch), channel.ch);
    return list;
}

class PlainQwtPlot : public QwtPlot {
public:
    explicit PlainQwtPlot(const QVector<QColor>& palette) : palette_(palette)
    {
        auto* grid = new QwtPlotGrid;
        grid->setMajorPen(QPen(QBrush(QColor(200, 200, 200)), 0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
        grid->attach(this);
        plotLayout()->setAlignCanvasToScales(true);
        auto* legend = new QwtLegend;
        legend->setDefaultItemMode(QwtLegendData::Checkable);
        insertLegend(legend, QwtPlot::RightLegend, -1.0);
    }

    void setData(const std::vector<WaveformData>& list)
    {
        setAutoReplot(false);
        for (size_t i = curves_.size(); i < list.size(); ++i) {
            curves_.push_back(new QwtPlotCurve(QString::fromStdString(list[i].name)));
            curves_.back()->setPen(QPen(QBrush(palette_[list[i].channel % palette_.size()]), 2.0, Qt::SolidLine,
                                        Qt::SquareCap, Qt::BevelJoin));
            curves_.back()->attach(this);
        }
        for (size_t i = 0; i < list.size(); ++i)
            curves_[i]->setSamples(QVector<QPointF>(list[i].points.cbegin(), list[i].points.cend()));
        replot();
    }

private:
    QVector<QColor> palette_;
    std::vector<QwtPlotCurve*> curves_;
};
