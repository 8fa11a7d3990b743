#include "datapath/FeatureExtractor.h"

#include <algorithm>
#include <cmath>

namespace {

// The first index whose |sample - baseline| is largest; ties keep the first.
int farthestFromBaseline(const double* samples, int count, double baseline)
{
    int peak = 0;
    double farthest = -1;
    for (int i = 0; i < count; ++i) {
        const double distance = std::abs(samples[i] - baseline);
        if (distance > farthest) {
            farthest = distance;
            peak = i;
        }
    }
    return peak;
}

} // namespace

ChannelFeatures FeatureExtractor::compute(const double* samples, int count) const
{
    ChannelFeatures f;
    if (count <= 0)
        return f;

    const int n = std::clamp(baselineSamples, 1, count);
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += samples[i];
    f.baseline = sum / n;
    double squares = 0;
    for (int i = 0; i < n; ++i)
        squares += (samples[i] - f.baseline) * (samples[i] - f.baseline);
    f.noise = std::sqrt(squares / n);

    f.peak = farthestFromBaseline(samples, count, f.baseline);
    f.amplitude = samples[f.peak] - f.baseline;

    const int first = std::max(0, f.peak - std::max(0, integralBefore));
    const int last = std::min(count - 1, f.peak + std::max(0, integralAfter));
    double integral = 0;
    for (int i = first; i <= last; ++i)
        integral += samples[i] - f.baseline;
    f.integral = integral;
    return f;
}
