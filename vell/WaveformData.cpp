#include "vell/WaveformData.h"

WaveformData::WaveformData(const std::vector<double>& samples, const std::string& name, int channel)
    : channel(channel), name(name)
{
    points.reserve(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        points.emplace_back(double(i), samples[i]);
}
