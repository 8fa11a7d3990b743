#pragma once
// Per-board, per-channel baselines of a pedestal recording: the mean over
// events of each channel's ChannelFeatures baseline and noise (the analyzer's
// FeatureExtractor over the leading baseline samples of every waveform).

#include "datapath/EventData.h"

#include <QMap>
#include <QString>

class QSettings;

class BaselineSurvey {
public:
    struct Channel {
        double baselineSum = 0;
        double noiseSum = 0;
        int events = 0;

        double baseline() const { return baselineSum / events; }
        double noise() const { return noiseSum / events; }
        // What the board settings store holds: a whole ADC code.
        int storedBaseline() const { return qRound(baseline()); }
    };
    struct Board {
        quint32 serial = 0;
        quint16 deviceType = 0;
        QMap<int, Channel> channels;
    };

    void add(const EventData& event);
    int events() const { return m_events; }
    const QMap<quint32, Board>& boards() const { return m_boards; }

    // The table: board group, channel, stored baseline, noise.
    QString table() const;
    // Writes every board's baselines into the store.
    void writeTo(QSettings& store) const;

private:
    QMap<quint32, Board> m_boards; // by serial
    int m_events = 0;
};
