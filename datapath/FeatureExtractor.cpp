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

// The sum and the sum of squares of samples[0, n), in one pass of four
// partial sums each.
std::pair<double, double> sumAndSquares(const double* samples, int n)
{
    double sum[4] = {0, 0, 0, 0};
    double squares[4] = {0, 0, 0, 0};
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int k = 0; k < 4; ++k) {
            sum[k] += samples[i + k];
            squares[k] += samples[i + k] * samples[i + k];
        }
    }
    for (; i < n; ++i) {
        sum[0] += samples[i];
        squares[0] += samples[i] * samples[i];
    }
    return {(sum[0] + sum[1]) + (sum[2] + sum[3]), (squares[0] + squares[1]) + (squares[2] + squares[3])};
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
    f.integral = sumOf(samples, first, last + 1, [baseline](double s) { return s - baseline; });
}
