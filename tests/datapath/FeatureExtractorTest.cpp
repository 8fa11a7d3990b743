// FeatureExtractor against hand-computed pulses.
#include "datapath/FeatureExtractor.h"

#include <QVector>
#include <gtest/gtest.h>

namespace {

FeatureExtractor extractor(int baselineSamples, int before, int after)
{
    FeatureExtractor f;
    f.baselineSamples = baselineSamples;
    f.integralBefore = before;
    f.integralAfter = after;
    return f;
}

// 32 samples of 100, then a step to 200: only the default 32 make the baseline.
QVector<double> stepAfterDefaultBaseline()
{
    QVector<double> s(100, 200);
    std::fill(s.begin(), s.begin() + 32, 100);
    return s;
}

} // namespace

TEST(FeatureExtractor, HandComputedPulses)
{
    const FeatureExtractor defaults;
    const struct {
        const char* name;
        FeatureExtractor extractor;
        QVector<double> samples;
        ChannelFeatures expected;
    } cases[] = {
        // Baseline 11 +-1; the window 4..7 leaves out the +1 at 3 and the +2 at 8.
        {"positive pulse", extractor(4, 1, 2), {10, 12, 10, 12, 11, 31, 21, 16, 13, 11}, {11, 1, 20, 35, 5}},
        {"negative pulse of signed codes",
         extractor(4, 1, 2),
         {-100, -100, -100, -100, -100, -140, -120, -100, -99},
         {-100, 0, -40, -60, 5}},
        {"window clipped at both ends", extractor(2, 8, 24), {1, 3, 10, 2}, {2, 1, 8, 8, 2}},
        {"tie of signs keeps the first", extractor(4, 8, 24), {0, 0, 0, 0, 0, -5, 5}, {0, 0, -5, 0, 5}},
        {"default baseline length and window", defaults, stepAfterDefaultBaseline(), {100, 0, 100, 2500, 32}},
        {"fewer samples than the baseline length", defaults, {1, 3}, {2, 1, -1, 0, 0}},
        {"one sample", defaults, {7}, {7, 0, 0, 0, 0}},
        {"no samples", defaults, {}, {0, 0, 0, 0, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelFeatures f = c.extractor.compute(c.samples.constData(), c.samples.size());
        EXPECT_DOUBLE_EQ(f.baseline, c.expected.baseline);
        EXPECT_DOUBLE_EQ(f.noise, c.expected.noise);
        EXPECT_DOUBLE_EQ(f.amplitude, c.expected.amplitude);
        EXPECT_DOUBLE_EQ(f.integral, c.expected.integral);
        EXPECT_EQ(f.peak, c.expected.peak);
    }
}
