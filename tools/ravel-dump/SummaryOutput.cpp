#include "tools/ravel-dump/SummaryOutput.h"

#include <QTextStream>

#include <cstdio>

namespace {
constexpr int ListedErrors = 10;
}

void SummaryOutput::Range::add(qint64 value)
{
    if (high < low) {
        low = high = value;
        return;
    }
    low = std::min(low, value);
    high = std::max(high, value);
}

QString SummaryOutput::Range::text() const
{
    if (high < low)
        return QStringLiteral("none");
    return low == high ? QString::number(low) : QStringLiteral("%1..%2").arg(low).arg(high);
}

SummaryOutput::SummaryOutput(const QString& fileName) : m_fileName(fileName) {}

void SummaryOutput::event(int, const EventData& event)
{
    ++m_events;
    m_evNums.add(event.evNum);
    for (const DeviceEvent& board : event.devices) {
        BoardStats& stats = m_boards[board.serial];
        stats.deviceType = board.deviceType;
        ++stats.events;
        stats.channelCount.add(board.channels.size());
        for (const ChannelData& channel : board.channels) {
            stats.samples.add(channel.samples.size());
            stats.channelNumbers.add(channel.ch);
        }
    }
}

void SummaryOutput::log(const QString& text, bool newError)
{
    if (newError)
        m_errors.append(text);
}

void SummaryOutput::finish(const FileMapResult& fileMap)
{
    QTextStream out(stdout);
    out << "File:          " << m_fileName << '\n'
        << "Size:          " << fileMap.size << " bytes\n"
        << "File map:      " << fileMap.records << " records, parsed " << fileMap.parsed << '/' << fileMap.size
        << " bytes" << (fileMap.completed ? "" : " (scan stopped early)") << '\n'
        << "Events:        " << m_events << " decoded, event numbers " << m_evNums.text() << '\n'
        << "Boards:        " << m_boards.size() << '\n';
    for (auto it = m_boards.cbegin(); it != m_boards.cend(); ++it) {
        const BoardStats& s = it.value();
        out << "  serial " << it.key() << " (type 0x" << QString::number(s.deviceType, 16) << "): " << s.events
            << " events, " << s.channelCount.text() << " channels (numbers " << s.channelNumbers.text() << "), "
            << s.samples.text() << " samples per channel\n";
    }
    out << "Format errors: " << m_errors.size() << '\n';
    for (int i = 0; i < std::min(int(m_errors.size()), ListedErrors); ++i)
        out << "  " << m_errors[i] << '\n';
    if (m_errors.size() > ListedErrors)
        out << "  ...\n";
}
