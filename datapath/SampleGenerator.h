#pragma once
// Deterministic source of realistic events for sample files, tests,
// benchmarks and simulated sources: boards with per-channel baselines and
// noise (some channels several times noisier), and on most events a pulse
// that hits a random subset of channels near a common trigger time. Each
// channel has one or two spectral lines: a hit is mostly one of them, with a
// small continuum below, so amplitude spectra look like a detector's, with
// the pedestal of the channels not hit. The same options and seed give the same events
// on every machine (own random generator, integer sample values).

#include "datapath/EventData.h"

class SampleGenerator {
public:
    struct Options {
        quint64 seed = 1;
        int boards = 2;
        int channels = 64;  // channels 0..channels-1 of every board
        int samples = 1024; // samples per channel; even (two per stream word)
        quint32 firstSerial = 2001;
        quint8 deviceType = 0xD9;
        double noiseSigma = 2.5;        // ADC codes, of the quiet channels
        double pulseProbability = 0.9;  // share of events with a pulse
        double hitProbability = 0.35;   // share of channels a pulse reaches
        double pulseAmplitude = 3000.0; // scale of the spectral lines beyond 40 codes
    };

    explicit SampleGenerator(const Options& options);

    // The next event; event numbers count from 1.
    EventData nextEvent();

private:
    quint64 nextRandom();
    double uniform(); // [0, 1)
    double noise();   // about unit standard deviation
    // What a channel looks like when idle and the pulse heights it sees.
    struct ChannelModel {
        double baseline = 0;
        double noiseSigma = 0;
        double lines[2] = {0, 0};
        int lineCount = 1;
    };
    ChannelModel makeChannelModel();
    double pulseHeight(const ChannelModel& channel);
    DeviceEvent makeBoard(int index, quint32 evNum, double triggerPos);
    void fillChannel(QVector<double>& samples, const ChannelModel& channel, double pulseAmplitude, double pulsePos,
                     double decay);

    Options m_options;
    quint64 m_state[4] = {};
    quint32 m_evNum = 0;
    quint64 m_clock = 0;              // board clock ticks of the current event
    QVector<ChannelModel> m_channels; // per board and channel
};
