#pragma once
// One curve for the waveform plot: the samples of one channel of one board,
// with the name shown in the legend.

#include <QPointF>
#include <string>
#include <vector>

class WaveformData {
public:
    WaveformData() = default;
    // Point i becomes (i, samples[i]): the x axis of a waveform is the sample index.
    WaveformData(const std::vector<double>& samples, const std::string& name, int channel);

    int channel = 0;
    std::vector<QPointF> points;
    std::string name;
};
