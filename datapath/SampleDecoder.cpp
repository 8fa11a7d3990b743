#include "datapath/SampleDecoder.h"

#include <QtEndian>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// XORed into a word, turns its unsigned codes into signed ones before the
// sign extension.
quint32 flipOf(bool adcSigned)
{
    return adcSigned ? 0u : 0x80008000u;
}

// The two codes of sample word i, first in time first.
std::pair<qint16, qint16> wordCodes(const char* in, std::size_t i, quint32 flip)
{
    const quint32 word = qFromLittleEndian<quint32>(in + 4 * i) ^ flip;
    return {qint16(word >> 16), qint16(word & 0xFFFFu)};
}

// The smallest and the largest sample seen up to the end of each chunk of
// words as they are converted, so that the search for the first peak sample
// can start in the chunk where that extreme first appears instead of at the
// first sample. A chunk costs a few instructions; 128 words or more keep them
// few next to the search they save.
struct RunningExtremes {
    static constexpr std::size_t MaxChunks = 32;
    static constexpr std::size_t MinChunkWords = 128;
    std::size_t chunkWords = 0; // a multiple of four
    std::size_t chunks = 0;
    std::size_t coveredWords = 0; // the words the chunks hold
#ifdef __SSE2__
    __m128i mins[MaxChunks]; // per lane, stored as they are (reduced only when searched)
    __m128i maxs[MaxChunks];
#endif

    // mins and maxs stay uninitialised: only the first `chunks` entries are
    // ever written and read, and clearing 1 KiB per channel costs more than
    // the search saves.
    explicit RunningExtremes(quint32 wordCount) // NOLINT(cppcoreguidelines-pro-type-member-init)
        : chunkWords(std::max(MinChunkWords, ((wordCount / MaxChunks) + 4) & ~std::size_t(3)))
    {}

    // The first word of the chunk where the sample `value`, one of the
    // extremes, first appears (a lane's running extreme reaches it); the
    // first word after the chunks when it is not in them.
    std::size_t firstChunkWord(double value, FeatureExtractor::Extremes extremes) const
    {
#ifdef __SSE2__
        const __m128i code = _mm_set1_epi16(qint16(value));
        const __m128i* lanes = value == extremes.min ? mins : maxs;
        for (std::size_t c = 0; c < chunks; ++c) {
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(lanes[c], code)) != 0)
                return c * chunkWords;
        }
#else
        Q_UNUSED(value)
        Q_UNUSED(extremes)
#endif
        return coveredWords;
    }

    // Where the first of the candidates may first appear.
    std::size_t searchStart(FeatureExtractor::PeakCandidates candidates, FeatureExtractor::Extremes extremes) const
    {
        const std::size_t first = firstChunkWord(candidates.first, extremes);
        return candidates.second == candidates.first ? first
                                                     : std::min(first, firstChunkWord(candidates.second, extremes));
    }
};

#ifdef __SSE2__
// The running smallest and largest code of each 16-bit lane.
struct Lanes {
    __m128i min;
    __m128i max;
};

// Converts words [begin, end) (a multiple of four apart), four words (eight
// samples) per step: the arithmetic shifts sign-extend both halves to 32
// bits, the unpacks restore the high-then-low order. With Extremes, the codes
// are folded into the lanes' extremes too. Kept out of line: inlined into
// the chunk loop, GCC copies both lanes twice per step, which costs more than
// the features' own work.
template <bool Extremes>
Q_NEVER_INLINE Lanes convertWords(const char* in, double* out, __m128i flipMask, std::size_t begin, std::size_t end,
                                  Lanes lanes)
{
    for (std::size_t i = begin; i < end; i += 4) {
        const __m128i words = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i)), flipMask);
        if constexpr (Extremes) {
            lanes.min = _mm_min_epi16(lanes.min, words);
            lanes.max = _mm_max_epi16(lanes.max, words);
        }
        const __m128i high = _mm_srai_epi32(words, 16);
        const __m128i low = _mm_srai_epi32(_mm_slli_epi32(words, 16), 16);
        const __m128i first = _mm_unpacklo_epi32(high, low);
        const __m128i second = _mm_unpackhi_epi32(high, low);
        double* o = out + 2 * i;
        _mm_storeu_pd(o, _mm_cvtepi32_pd(first));
        _mm_storeu_pd(o + 2, _mm_cvtepi32_pd(_mm_srli_si128(first, 8)));
        _mm_storeu_pd(o + 4, _mm_cvtepi32_pd(second));
        _mm_storeu_pd(o + 6, _mm_cvtepi32_pd(_mm_srli_si128(second, 8)));
    }
    return lanes;
}

// The smallest or the largest of eight 16-bit lanes, folded in halves.
template <__m128i (*Pick)(__m128i, __m128i)>
qint16 horizontal(__m128i lanes)
{
    lanes = Pick(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 0, 3, 2)));
    lanes = Pick(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(2, 3, 0, 1)));
    lanes = Pick(lanes, _mm_shufflelo_epi16(lanes, _MM_SHUFFLE(2, 3, 0, 1)));
    return qint16(_mm_extract_epi16(lanes, 0));
}

inline __m128i minLanes(__m128i a, __m128i b)
{
    return _mm_min_epi16(a, b);
}

inline __m128i maxLanes(__m128i a, __m128i b)
{
    return _mm_max_epi16(a, b);
}
#endif

// Converts wordCount words into 2 * wordCount doubles. With Extremes, returns
// the smallest and the largest sample and notes them per chunk in `running`.
template <bool Extremes>
FeatureExtractor::Extremes convert(const char* in, quint32 wordCount, double* out, quint32 flip,
                                   RunningExtremes* running)
{
    std::size_t i = 0;
    qint16 lo = std::numeric_limits<qint16>::max();
    qint16 hi = std::numeric_limits<qint16>::min();
#ifdef __SSE2__
    const __m128i flipMask = _mm_set1_epi32(int(flip));
    Lanes lanes{_mm_set1_epi16(lo), _mm_set1_epi16(hi)};
    const std::size_t simdEnd = wordCount & ~std::size_t(3);
    if constexpr (Extremes) {
        std::size_t chunks = 0; // counted here: `out` might alias `running` for all the compiler knows
        for (; i < simdEnd; i = std::min(simdEnd, i + running->chunkWords)) {
            lanes = convertWords<true>(in, out, flipMask, i, std::min(simdEnd, i + running->chunkWords), lanes);
            running->mins[chunks] = lanes.min;
            running->maxs[chunks] = lanes.max;
            ++chunks;
        }
        running->chunks = chunks;
        running->coveredWords = i;
        lo = horizontal<minLanes>(lanes.min);
        hi = horizontal<maxLanes>(lanes.max);
    } else {
        convertWords<false>(in, out, flipMask, 0, simdEnd, lanes);
        i = simdEnd;
    }
#else
    Q_UNUSED(running)
#endif
    for (; i < wordCount; ++i) {
        const auto [first, second] = wordCodes(in, i, flip);
        out[2 * i] = double(first);
        out[2 * i + 1] = double(second);
        if constexpr (Extremes) {
            lo = std::min({lo, first, second});
            hi = std::max({hi, first, second});
        }
    }
    return {double(lo), double(hi)};
}

#ifdef __SSE2__
// The first sample in time of four words whose 16-bit lanes hit (a compare
// result), or -1. Lane 2k holds the low half of word k, its second sample,
// lane 2k + 1 the high half, its first.
int firstHitIn(__m128i hit)
{
    const int lanes = _mm_movemask_epi8(_mm_packs_epi16(hit, _mm_setzero_si128())); // one bit per lane
    if (lanes == 0)
        return -1;
    const int word = int(qCountTrailingZeroBits(quint32(lanes))) / 2;
    return 2 * word + (((lanes >> (2 * word + 1)) & 1) != 0 ? 0 : 1);
}

// Scans the codes sixteen, then four words at a time from word `at` for a or
// (if Both) b; returns the sample index of the first hit, or -1 with `at` at
// the words left over.
template <bool Both>
int scanCodes(const char* in, quint32 wordCount, __m128i a, __m128i b, std::size_t& at)
{
    const auto hits = [&](std::size_t word) {
        const __m128i codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * word));
        const __m128i hit = _mm_cmpeq_epi16(codes, a);
        return Both ? _mm_or_si128(hit, _mm_cmpeq_epi16(codes, b)) : hit;
    };
    for (; at + 16 <= wordCount; at += 16) {
        const __m128i h0 = hits(at);
        const __m128i h1 = hits(at + 4);
        const __m128i h2 = hits(at + 8);
        const __m128i h3 = hits(at + 12);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) != 0)
            break; // the four-word steps below find it
    }
    for (; at + 4 <= wordCount; at += 4) {
        const int hit = firstHitIn(hits(at));
        if (hit >= 0)
            return int(2 * at) + hit;
    }
    return -1;
}
#endif

// The index of the first sample equal to either candidate, searched from
// word startWord in the sample words rather than in the decoded doubles:
// sixteen codes per test keep the peak search small next to decoding.
int firstSampleOf(const char* in, quint32 wordCount, const double* samples, quint32 flip,
                  FeatureExtractor::PeakCandidates candidates, std::size_t startWord)
{
    std::size_t i = startWord;
#ifdef __SSE2__
    const auto rawCode = [flip](double value) { return _mm_set1_epi16(short(qint16(value) ^ qint16(flip & 0xFFFFu))); };
    const __m128i a = rawCode(candidates.first);
    const __m128i b = rawCode(candidates.second);
    const int found = candidates.first == candidates.second ? scanCodes<false>(in, wordCount, a, b, i)
                                                            : scanCodes<true>(in, wordCount, a, b, i);
    if (found >= 0)
        return found;
#else
    Q_UNUSED(in)
    Q_UNUSED(flip)
#endif
    const quint32 count = 2 * wordCount;
    for (quint32 s = quint32(2 * i); s < count; ++s) {
        if (samples[s] == candidates.first || samples[s] == candidates.second)
            return int(s);
    }
    return 0; // unreachable: both candidates are decoded samples
}

} // namespace

void SampleDecoder::decode(const char* words, quint32 wordCount, bool adcSigned, double* out)
{
    convert<false>(words, wordCount, out, flipOf(adcSigned), nullptr);
}

ChannelFeatures SampleDecoder::decodeWithFeatures(const char* words, quint32 wordCount, bool adcSigned,
                                                  const FeatureExtractor& extractor, double* out)
{
    const quint32 flip = flipOf(adcSigned);
    RunningExtremes running(wordCount);
    const FeatureExtractor::Extremes extremes = convert<true>(words, wordCount, out, flip, &running);
    ChannelFeatures f;
    if (wordCount == 0)
        return f;
    // The steps of FeatureExtractor::compute, with the peak searched in the
    // codes while they are in cache; the sums run over the doubles just
    // written, still in cache too.
    const int count = int(2 * wordCount);
    extractor.measureBaseline(out, count, f);
    const FeatureExtractor::PeakCandidates candidates = FeatureExtractor::peakCandidates(f, extremes);
    const int peak = firstSampleOf(words, wordCount, out, flip, candidates, running.searchStart(candidates, extremes));
    extractor.measurePulse(out, count, peak, f);
    return f;
}
