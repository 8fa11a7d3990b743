#pragma once
// What the monitor needs to know of one channel's waveform in one event, in a
// few numbers: computed by the analyzer while the samples are still in cache,
// so histograms and the feature log never touch the samples themselves.

#include <QtGlobal>

struct ChannelFeatures {
    double baseline = 0;  // mean of the leading baseline samples, ADC codes
    double noise = 0;     // RMS deviation of those samples from the baseline
    double amplitude = 0; // sample at peak minus baseline, signed
    double integral = 0;  // sum of (sample - baseline) over the integration window
    int peak = -1;        // index of the sample farthest from the baseline; -1 without samples
};
