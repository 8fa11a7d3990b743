#pragma once
// Computes a channel's ChannelFeatures from its samples in one short pass:
// baseline and noise over the first baselineSamples samples (all of them when
// there are fewer), the peak as the first sample farthest from that baseline,
// and the integral of (sample - baseline) from peak - integralBefore to
// peak + integralAfter, clipped to the channel. A plain value, copied into
// each analyzer and tool that needs it; no Qt object, no widgets.

#include "datapath/ChannelFeatures.h"

class FeatureExtractor {
public:
    static constexpr int DefaultBaselineSamples = 32;
    static constexpr int DefaultIntegralBefore = 8;
    static constexpr int DefaultIntegralAfter = 24;

    int baselineSamples = DefaultBaselineSamples;
    int integralBefore = DefaultIntegralBefore;
    int integralAfter = DefaultIntegralAfter;

    ChannelFeatures compute(const double* samples, int count) const;
};
