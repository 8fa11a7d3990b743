#include "datapath/SampleGenerator.h"

#include <QtMath>
#include <algorithm>

namespace {

quint64 splitMix64(quint64& x)
{
    quint64 z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A waveform block carries its time as a high word and 30 low bits, so bits
// 30 and 31 of the 64-bit value never survive the stream: spread a counter
// over exactly the bits the format can hold.
quint64 representableChannelTime(quint64 counter)
{
    return ((counter >> 30) << 32) | (counter & 0x3FFFFFFFu);
}

quint64 rotl(quint64 x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

SampleGenerator::SampleGenerator(const Options& options) : m_options(options)
{
    quint64 seed = options.seed;
    for (quint64& word : m_state)
        word = splitMix64(seed);
    m_options.samples = std::max(0, options.samples);
    m_channels.resize(std::max(0, options.boards) * std::max(0, options.channels));
    for (ChannelModel& channel : m_channels)
        channel = makeChannelModel();
}

SampleGenerator::ChannelModel SampleGenerator::makeChannelModel()
{
    constexpr double NoisyShare = 0.15;
    ChannelModel c;
    c.baseline = std::round(-400.0 + 800.0 * uniform());
    c.noiseSigma = m_options.noiseSigma * (uniform() < NoisyShare ? 3.0 + 2.0 * uniform() : 1.0);
    c.lines[0] = 40.0 + m_options.pulseAmplitude * (0.2 + 0.2 * uniform());
    c.lines[1] = 40.0 + (c.lines[0] - 40.0) * (1.5 + 0.5 * uniform());
    c.lineCount = uniform() < 0.5 ? 2 : 1;
    return c;
}

// One of the channel's lines with a 3 % spread, or now and then a height
// from the continuum below the highest line.
double SampleGenerator::pulseHeight(const ChannelModel& channel)
{
    constexpr double ContinuumShare = 0.2;
    constexpr double SecondLineShare = 0.35;
    const double highest = channel.lines[channel.lineCount - 1];
    const double pick = uniform();
    if (pick < ContinuumShare)
        return 40.0 + (highest - 40.0) * uniform();
    const bool second = channel.lineCount == 2 && pick > 1.0 - SecondLineShare;
    return channel.lines[second ? 1 : 0] * (1.0 + 0.03 * noise());
}

quint64 SampleGenerator::nextRandom()
{
    // xoshiro256**
    const quint64 result = rotl(m_state[1] * 5, 7) * 9;
    const quint64 t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

double SampleGenerator::uniform()
{
    return double(nextRandom() >> 11) * (1.0 / 9007199254740992.0);
}

double SampleGenerator::noise()
{
    // Sum of four uniforms: close to Gaussian, no library functions involved.
    return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508075688772;
}

EventData SampleGenerator::nextEvent()
{
    EventData event;
    event.evNum = ++m_evNum;
    m_clock += 50000 + (nextRandom() % 200000); // irregular trigger spacing
    const bool pulse = uniform() < m_options.pulseProbability;
    const double triggerPos = pulse ? m_options.samples * (0.2 + 0.3 * uniform()) : -1.0;
    for (int b = 0; b < m_options.boards; ++b) {
        DeviceEvent board = makeBoard(b, event.evNum, triggerPos);
        event.devices.insert(board.serial, board);
    }
    return event;
}

DeviceEvent SampleGenerator::makeBoard(int index, quint32 evNum, double triggerPos)
{
    DeviceEvent board;
    board.serial = m_options.firstSerial + quint32(index);
    board.deviceType = m_options.deviceType;
    board.evNum = evNum;
    const quint64 boardClock = m_clock + quint64(index) * 3; // boards differ by cable delay
    board.timeHigh = quint32(boardClock >> 30);
    board.timeLow = quint32(boardClock & 0x3FFFFFFFu);
    board.timeFlags = quint32(nextRandom() % 4);
    for (int ch = 0; ch < m_options.channels; ++ch) {
        ChannelData channel;
        channel.ch = quint8(ch);
        channel.time = representableChannelTime((boardClock << 4) + quint64(nextRandom() % 16)); // finer channel clock
        const bool hit = triggerPos >= 0 && uniform() < m_options.hitProbability;
        const ChannelModel& model = m_channels[index * m_options.channels + ch];
        const double amplitude = hit ? -pulseHeight(model) : 0.0;
        const double pulsePos = triggerPos + 4.0 * noise();
        const double decay = 8.0 + 40.0 * uniform();
        channel.samples.resize(m_options.samples);
        fillChannel(channel.samples, model, amplitude, pulsePos, decay);
        board.channels.insert(ch, channel);
    }
    return board;
}

void SampleGenerator::fillChannel(QVector<double>& samples, const ChannelModel& channel, double pulseAmplitude,
                                  double pulsePos, double decay)
{
    double* out = samples.data();
    for (int i = 0; i < samples.size(); ++i) {
        double value = channel.baseline + channel.noiseSigma * noise();
        const double t = i - pulsePos;
        if (pulseAmplitude != 0.0 && t > -3.0) {
            // Fast rise over three samples, exponential tail.
            const double rise = t < 0 ? (t + 3.0) / 3.0 : 1.0;
            value += pulseAmplitude * rise * std::exp(-std::max(t, 0.0) / decay);
        }
        out[i] = std::clamp(std::round(value), -32768.0, 32767.0);
    }
}
