#include "tools/ravel-baselines/BaselineSurvey.h"

#include "datapath/DeviceSettings.h"

#include <QSettings>

void BaselineSurvey::add(const EventData& event)
{
    ++m_events;
    for (const DeviceEvent& device : event.devices) {
        Board& board = m_boards[device.serial];
        board.serial = device.serial;
        board.deviceType = device.deviceType;
        for (const ChannelData& data : device.channels) {
            if (data.samples.isEmpty())
                continue; // no waveform, no baseline
            Channel& channel = board.channels[data.ch];
            channel.baselineSum += data.features.baseline;
            channel.noiseSum += data.features.noise;
            ++channel.events;
        }
    }
}

QString BaselineSurvey::table() const
{
    QString text =
        QStringLiteral("%1 %2 %3 %4\n").arg("board", -17).arg("channel", 7).arg("baseline", 8).arg("noise", 8);
    for (const Board& board : m_boards) {
        const QString group = DeviceSettings::groupName(board.deviceType, board.serial);
        for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it)
            text += QStringLiteral("%1 %2 %3 %4\n")
                        .arg(group, -17)
                        .arg(it.key(), 7)
                        .arg(it->storedBaseline(), 8)
                        .arg(it->noise(), 8, 'f', 2);
    }
    return text;
}

void BaselineSurvey::writeTo(QSettings& store) const
{
    for (const Board& board : m_boards) {
        QMap<int, int> baselines;
        for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it)
            baselines.insert(it.key(), it->storedBaseline());
        DeviceSettings(board.deviceType, board.serial).saveBaselines(store, baselines);
    }
}
