#include "datapath/FeatureExtractor.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

FeatureExtractor::Extremes extremesOf(const double* samples, int count)
{
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    return {*lo, *hi};
}

// The sum (and, when Squares, the sum of squares) of samples[0, n), two
// doubles per SSE2 operation in two accumulators, so that the additions
// overlap instead of each waiting for the one before. The samples are ADC
// codes, so every partial sum is an exact integer and the order of the
// additions cannot change the result.
template <bool Squares>
std::pair<double, double> sums(const double* samples, int n)
{
    int i = 0;
    double sum = 0;
    double squares = 0;
#ifdef __SSE2__
    __m128d s0 = _mm_setzero_pd(), s1 = _mm_setzero_pd();
    __m128d q0 = _mm_setzero_pd(), q1 = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        const __m128d a = _mm_loadu_pd(samples + i);
        const __m128d b = _mm_loadu_pd(samples + i + 2);
        s0 = _mm_add_pd(s0, a);
        s1 = _mm_add_pd(s1, b);
        if (Squares) {
            q0 = _mm_add_pd(q0, _mm_mul_pd(a, a));
            q1 = _mm_add_pd(q1, _mm_mul_pd(b, b));
        }
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, _mm_add_pd(s0, s1));
    sum = lanes[0] + lanes[1];
    if (Squares) {
        _mm_store_pd(lanes, _mm_add_pd(q0, q1));
        squares = lanes[0] + lanes[1];
    }
#endif
    for (; i < n; ++i) {
        sum += samples[i];
        if (Squares)
            squares += samples[i] * samples[i];
    }
    return {sum, squares};
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
    const auto [sum, squares] = sums<true>(samples, n);
    // Samples are ADC codes, so both sums are exact and the variance as
    // mean square minus squared mean loses nothing worth a second pass.
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
    const int first = std::max(0, peak - std::max(0, integralBefore));
    const int last = std::min(count - 1, peak + std::max(0, integralAfter));
    const int length = last - first + 1;
    f.peak = peak;
    f.amplitude = samples[peak] - f.baseline;
    f.integral = sums<false>(samples + first, length).first - length * f.baseline;
}
