// FeatureExtractor against hand-computed pulses, and SampleDecoder, which
// finds the same features on the packed codes.
#include "datapath/FeatureExtractor.h"
#include "datapath/SampleDecoder.h"

#include <QtEndian>
#include <random>

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

// The sample words of `samples`, two codes each, the first in time high;
// unsigned codes are stored offset by 0x8000.
QByteArray sampleWords(const QVector<double>& samples, bool adcSigned)
{
    QByteArray words(2 * samples.size(), Qt::Uninitialized);
    for (int i = 0; i + 1 < samples.size(); i += 2) {
        const auto code = [&](int s) { return quint32(quint16(qint16(samples[s]) ^ (adcSigned ? 0 : 0x8000))); };
        qToLittleEndian<quint32>((code(i) << 16) | code(i + 1), words.data() + 2 * i);
    }
    return words;
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

TEST(SampleDecoder, DecodesAndFindsTheFeaturesComputeFinds)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-3, 3);
    QVector<double> samples(1022);
    for (double& s : samples)
        s = noise(random);
    samples[3] = -32768;  // the far extreme early in a short baseline
    samples[700] = 32767; // a later, equally far one in another chunk
    samples[1021] = 32767;
    const QVector<double> shortChannel{5, -2, 9, 9};
    for (bool adcSigned : {true, false}) {
        for (const QVector<double>& channel : {samples, shortChannel}) {
            for (const FeatureExtractor& e : {extractor(1, 0, 0), extractor(7, 8, 24), extractor(2000, 3, 5000)}) {
                SCOPED_TRACE(testing::Message() << adcSigned << " " << channel.size() << " " << e.baselineSamples);
                const QByteArray words = sampleWords(channel, adcSigned);
                QVector<double> decoded(channel.size());
                const ChannelFeatures f = SampleDecoder::decodeWithFeatures(
                    words.constData(), quint32(channel.size() / 2), adcSigned, e, decoded.data());
                const ChannelFeatures expected = e.compute(channel.constData(), channel.size());
                EXPECT_EQ(decoded, channel);
                EXPECT_EQ(f.peak, expected.peak);
                EXPECT_DOUBLE_EQ(f.baseline, expected.baseline);
                EXPECT_DOUBLE_EQ(f.noise, expected.noise);
                EXPECT_DOUBLE_EQ(f.amplitude, expected.amplitude);
                EXPECT_DOUBLE_EQ(f.integral, expected.integral);
            }
        }
    }
}
