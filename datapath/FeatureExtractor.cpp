#include "datapath/FeatureExtractor.h"

#include <algorithm>
#include <cmath>

namespace {

FeatureExtractor::Extremes extremesOf(const double* samples, int count)
{
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    return {*lo, *hi};
}

// The sum of term(samples[i]) for i in [first, last), in four partial sums so
// that the additions overlap instead of each waiting for the one before.
template <typename Term>
double sumOf(const double* samples, int first, int last, Term term)
{
    double part[4] = {0, 0, 0, 0};
    int i = first;
    for (; i + 4 <= last; i += 4) {
        for (int k = 0; k < 4; ++k)
            part[k] += term(samples[i + k]);
    }
    for (; i < last; ++i)
        part[0] += term(samples[i]);
    return (part[0] + part[1]) + (part[2] + part[3]);
}

// The first index holding a or b; count when there is none.
int firstIndexOf(const double* samples, int count, double a, double b)
{
    for (int i = 0; i < count; ++i) {
        if (samples[i] == a || samples[i] == b)
            return i;
    }
    return count;
}

} // namespace

ChannelFeatures FeatureExtractor::compute(const double* samples, int count) const
{
    ChannelFeatures f;
    if (count <= 0)
        return f;
    measureBaseline(samples, count, f);
    const PeakCandidates candidates = peakCandidates(f, extremesOf(samples, count));
    const int peak = firstIndexOf(samples, count, candidates.first, candidates.second);
    measurePulse(samples, count, peak < count ? peak : 0, f); // not found only for NaN samples
    return f;
}

void FeatureExtractor::measureBaseline(const double* samples, int count, ChannelFeatures& f) const
{
    const int n = std::clamp(baselineSamples, 1, count);
    const double baseline = sumOf(samples, 0, n, [](double s) { return s; }) / n;
    f.baseline = baseline;
    f.noise = std::sqrt(sumOf(samples, 0, n, [baseline](double s) { return (s - baseline) * (s - baseline); }) / n);
}

FeatureExtractor::PeakCandidates FeatureExtractor::peakCandidates(const ChannelFeatures& f, Extremes extremes)
{
    const double above = extremes.max - f.baseline;
    const double below = f.baseline - extremes.min;
    const double farthest = above >= below ? extremes.max : extremes.min;
    return {farthest, above == below ? extremes.min : farthest};
}

void FeatureExtractor::measurePulse(const double* samples, int count, int peak, ChannelFeatures& f) const
{
    const double baseline = f.baseline;
    f.peak = peak;
    f.amplitude = samples[peak] - baseline;
    const int first = std::max(0, peak - std::max(0, integralBefore));
    const int last = std::min(count - 1, peak + std::max(0, integralAfter));
    f.integral = sumOf(samples, first, last + 1, [baseline](double s) { return s - baseline; });
}
