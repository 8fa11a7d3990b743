#include "app/BoardHistograms.h"

#include <algorithm>
#include <cmath>
#include <limits>

void BoardHistograms::fill(const DeviceEvent& board, qint64 second)
{
    for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it)
        fillChannel(it.key(), it->features);
    countEvent(second);
}

void BoardHistograms::fillChannel(int channel, const ChannelFeatures& features)
{
    // Features that are not finite come from corrupt samples and would
    // poison the sums, or make no bin at all.
    if (channel < 0 || channel > MaxChannel || !std::isfinite(features.baseline) || !std::isfinite(features.noise)
        || !std::isfinite(features.amplitude))
        return;
    if (channel >= m_channels.size())
        m_channels.resize(channel + 1);
    Channel& c = m_channels[channel];
    if (c.amplitudes.isEmpty())
        c.amplitudes.resize(AmplitudeBins);
    ++c.events;
    c.baselineSum += features.baseline;
    c.noiseSquareSum += features.noise * features.noise;
    if (features.peak < 0) // a channel without samples has no pulse
        return;
    // Clamped as a double: a huge amplitude would not fit an int.
    const double bin = std::floor((features.amplitude - AmplitudeMin) / AmplitudeBinWidth);
    quint32& count = c.amplitudes[int(std::clamp(bin, 0.0, double(AmplitudeBins - 1)))];
    if (count != std::numeric_limits<quint32>::max()) // a full bin stays full rather than wrap to empty
        ++count;
    const int peak = std::min(features.peak, MaxPeakIndex);
    if (peak >= m_peaks.size())
        m_peaks.resize(peak + 1);
    ++m_peaks[peak];
}

void BoardHistograms::countEvent(qint64 second)
{
    const int slot = int(second % RateSeconds);
    if (m_rateStamps[slot] != second) {
        m_rateStamps[slot] = second;
        m_rateCounts[slot] = 0;
    }
    ++m_rateCounts[slot];
}

QVector<int> BoardHistograms::channels() const
{
    QVector<int> seen;
    for (int ch = 0; ch < m_channels.size(); ++ch) {
        if (m_channels[ch].events > 0)
            seen.append(ch);
    }
    return seen;
}

QVector<quint32> BoardHistograms::amplitudes(int channel) const
{
    return channel >= 0 && channel < m_channels.size() ? m_channels[channel].amplitudes : QVector<quint32>();
}

BoardHistograms::BaselineStats BoardHistograms::baseline(int channel) const
{
    if (channel < 0 || channel >= m_channels.size() || m_channels[channel].events == 0)
        return {};
    const Channel& c = m_channels[channel];
    const double n = double(c.events);
    return {c.events, c.baselineSum / n, std::sqrt(c.noiseSquareSum / n)};
}

QVector<double> BoardHistograms::rate(qint64 nowSecond) const
{
    QVector<double> perSecond(RateSeconds);
    for (int i = 0; i < RateSeconds; ++i) {
        const qint64 second = nowSecond - (RateSeconds - 1) + i;
        const int slot = int(((second % RateSeconds) + RateSeconds) % RateSeconds);
        perSecond[i] = m_rateStamps[slot] == second ? m_rateCounts[slot] : 0;
    }
    return perSecond;
}
