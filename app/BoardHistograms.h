#pragma once
// The monitor's accumulators for one board, filled from the channel features
// of its records: per channel an amplitude spectrum and the sums behind the
// mean baseline and noise, the distribution of peak positions over all
// channels, and the board's events per second over the last RateSeconds.
// Filling is a few additions per channel, so any record rate can be taken on
// the GUI thread.

#include "datapath/EventData.h"

#include <QVector>

class BoardHistograms {
public:
    static constexpr int AmplitudeBinWidth = 16; // ADC codes
    static constexpr int AmplitudeMin = -32768;  // lowest signed code
    static constexpr int AmplitudeBins = 65536 / AmplitudeBinWidth;
    static constexpr int MaxPeakIndex = 65535; // later peaks count in the last bin
    static constexpr int RateSeconds = 600;
    static constexpr int MaxChannel = 255; // a channel number fits a byte; larger ones are ignored

    struct BaselineStats {
        quint64 events = 0;
        double mean = 0; // mean baseline, ADC codes
        double rms = 0;  // root of the mean squared noise, ADC codes
    };

    void fill(const DeviceEvent& board, qint64 second);

    // Channels seen, ascending.
    QVector<int> channels() const;
    // Counts per amplitude bin of a channel, each at most 2^32 - 1; empty for a
    // channel not seen.
    QVector<quint32> amplitudes(int channel) const;
    static double amplitudeBinLow(int bin) { return AmplitudeMin + double(bin) * AmplitudeBinWidth; }
    BaselineStats baseline(int channel) const;
    // Counts per peak sample index, over all channels: 64-bit, as a few
    // hours of 64 channels at a high rate pass 2^32 in one bin.
    const QVector<quint64>& peaks() const { return m_peaks; }
    // Events per second for the RateSeconds seconds up to and including now,
    // oldest first.
    QVector<double> rate(qint64 nowSecond) const;

private:
    struct Channel {
        QVector<quint32> amplitudes;
        quint64 events = 0;
        double baselineSum = 0;
        double noiseSquareSum = 0;
    };

    void fillChannel(int channel, const ChannelFeatures& features);
    void countEvent(qint64 second);

    QVector<Channel> m_channels; // by channel number, grown as channels appear
    QVector<quint64> m_peaks;
    QVector<quint32> m_rateCounts = QVector<quint32>(RateSeconds);   // ring, by second
    QVector<qint64> m_rateStamps = QVector<qint64>(RateSeconds, -1); // the second each slot counts
};
