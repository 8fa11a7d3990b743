#pragma once
// Turns the sample words of one channel into doubles, and, when asked, finds
// the channel's features in the same pass while the codes are in cache: the
// monitor's features then cost a small share of decoding instead of a second
// pass over the doubles.
//
// Each word holds two 16-bit codes, the high half first in time. Unsigned
// codes are stored offset, as code - 0x8000 after the sign extension.

#include "datapath/ChannelFeatures.h"
#include "datapath/FeatureExtractor.h"

#include <QtGlobal>

class SampleDecoder {
public:
    // Writes 2 * wordCount doubles to out.
    static void decode(const char* words, quint32 wordCount, bool adcSigned, double* out);

    // decode, returning the features extractor.compute finds in out.
    static ChannelFeatures decodeWithFeatures(const char* words, quint32 wordCount, bool adcSigned,
                                              const FeatureExtractor& extractor, double* out);
};
