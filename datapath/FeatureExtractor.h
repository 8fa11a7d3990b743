#pragma once
// Computes a channel's ChannelFeatures from its samples in one short pass:
// baseline and noise over the first baselineSamples samples (all of them when
// there are fewer), the peak as the first sample farthest from that baseline,
// and the integral of (sample - baseline) from peak - integralBefore to
// peak + integralAfter, clipped to the channel. A plain value, copied into
// each analyzer and tool that needs it; no Qt object, no widgets.
//
// A decoder can do the costly part, finding the peak, on its packed input
// while converting it: the farthest sample is the smallest or the largest
// one, so measureBaseline, then peakCandidates, then the decoder's search for
// the first of them, then measurePulse give the same features as compute.

#include "datapath/ChannelFeatures.h"

class FeatureExtractor {
public:
    static constexpr int DefaultBaselineSamples = 32;
    static constexpr int DefaultIntegralBefore = 8;
    static constexpr int DefaultIntegralAfter = 24;

    // The smallest and the largest sample of a channel.
    struct Extremes {
        double min = 0;
        double max = 0;
    };
    // The peak is the first sample equal to either value (equal unless the
    // extremes lie at the same distance from the baseline).
    struct PeakCandidates {
        double first = 0;
        double second = 0;
    };

    int baselineSamples = DefaultBaselineSamples;
    int integralBefore = DefaultIntegralBefore;
    int integralAfter = DefaultIntegralAfter;

    ChannelFeatures compute(const double* samples, int count) const;

    // The steps of compute; count > 0.
    void measureBaseline(const double* samples, int count, ChannelFeatures& features) const;
    static PeakCandidates peakCandidates(const ChannelFeatures& features, Extremes extremes);
    void measurePulse(const double* samples, int count, int peak, ChannelFeatures& features) const;
};
