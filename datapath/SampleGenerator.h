#pragma once
// Deterministic source of realistic events for sample files, tests,
// benchmarks and simulated sources: boards with per-channel baselines and
// noise, and on most events a pulse that hits a random subset of channels
// near a common trigger time. The same options and seed give the same events
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
        double noiseSigma = 2.5;        // ADC codes
        double pulseProbability = 0.9;  // share of events with a pulse
        double hitProbability = 0.35;   // share of channels a pulse reaches
        double pulseAmplitude = 3000.0; // scale of the pulse heights beyond 40 codes
    };

    explicit SampleGenerator(const Options& options);

    // The next event; event numbers count from 1.
    EventData nextEvent();

private:
    quint64 nextRandom();
    double uniform(); // [0, 1)
    double noise();   // about unit standard deviation
    DeviceEvent makeBoard(int index, quint32 evNum, double triggerPos);
    void fillChannel(QVector<double>& samples, double baseline, double pulseAmplitude, double pulsePos, double decay);

    Options m_options;
    quint64 m_state[4] = {};
    quint32 m_evNum = 0;
    quint64 m_clock = 0;         // board clock ticks of the current event
    QVector<double> m_baselines; // per board and channel
};
