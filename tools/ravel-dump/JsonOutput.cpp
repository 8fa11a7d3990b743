#include "tools/ravel-dump/JsonOutput.h"

void JsonOutput::event(int, const EventData& event)
{
    m_out << "{\"evNum\":";
    m_out.number(event.evNum) << ",\"boards\":[";
    bool first = true;
    for (const DeviceEvent& b : event.devices) {
        m_out << (first ? "" : ",");
        board(b);
        first = false;
    }
    m_out << "]}";
    m_out.endLine();
}

void JsonOutput::board(const DeviceEvent& board)
{
    m_out << "{\"serial\":";
    m_out.number(board.serial) << ",\"deviceType\":";
    m_out.number(board.deviceType) << ",\"evNum\":";
    m_out.number(board.evNum) << ",\"timeHigh\":";
    m_out.number(board.timeHigh) << ",\"timeFlags\":";
    m_out.number(quint32(board.timeFlags)) << ",\"timeLow\":";
    m_out.number(quint32(board.timeLow)) << ",\"channels\":[";
    bool firstChannel = true;
    for (const ChannelData& channel : board.channels) {
        m_out << (firstChannel ? "{\"ch\":" : ",{\"ch\":");
        m_out.number(channel.ch) << ",\"time\":";
        m_out.number(channel.time) << ",\"samples\":[";
        for (int i = 0; i < channel.samples.size(); ++i) {
            if (i > 0)
                m_out << ",";
            m_out.sample(channel.samples[i]);
        }
        m_out << "]}";
        firstChannel = false;
    }
    m_out << "]}";
}

void JsonOutput::log(const QString& text, bool)
{
    m_out << "{\"log\":" << TextWriter::jsonString(text) << "}";
    m_out.endLine();
}

void JsonOutput::finish(const FileMapResult& fileMap)
{
    m_out << "{\"fileMap\":{\"size\":";
    m_out.number(fileMap.size) << ",\"parsed\":";
    m_out.number(fileMap.parsed) << ",\"records\":";
    m_out.number(fileMap.records) << ",\"completed\":" << (fileMap.completed ? "true" : "false") << "}}";
    m_out.endLine();
    m_out.flush();
}
