#include "datapath/FeatureExtractor.h"

#include <algorithm>
#include <cmath>

namespace {

FeatureExtractor::Extremes extremesOf(const double* samples, int count)
{
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    return {*lo, *hi};
}

// The sum and the sum of squares of samples[0, n), in one pass of four
// partial sums each, so that the additions overlap instead of each waiting for
// the one before (locals, which stay in registers).
std::pair<double, double> sumAndSquares(const double* samples, int n)
{
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    double q0 = 0, q1 = 0, q2 = 0, q3 = 0;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += samples[i];
        s1 += samples[i + 1];
        s2 += samples[i + 2];
        s3 += samples[i + 3];
        q0 += samples[i] * samples[i];
        q1 += samples[i + 1] * samples[i + 1];
        q2 += samples[i + 2] * samples[i + 2];
        q3 += samples[i + 3] * samples[i + 3];
    }
    for (; i < n; ++i) {
        s0 += samples[i];
        q0 += samples[i] * samples[i];
    }
    return {(s0 + s1) + (s2 + s3), (q0 + q1) + (q2 + q3)};
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
    // Samples are ADC codes, so both sums are exact and the variance as
    // mean square minus squared mean loses nothing worth a second pass.
    const auto [sum, squares] = sumAndSquares(samples, n);
    f.baseline = sum / n;
    f.noise = std::sqrt(std::max(0.0, squares / n - f.baseline * f.baseline));
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
    const int length = last - first + 1;
    f.integral = sumAndSquares(samples + first, length).first - length * baseline;
}
